#pragma once

// What one input of fuzz_container_open must satisfy. Shared by the fuzz target and by the
// regression suite that replays the corpus without libFuzzer, so both check the same thing.

#include <cstddef>
#include <cstdint>
#include <exception>
#include <fstream>
#include <memory>
#include <stdexcept>
#include <string>
#include <system_error>

#include <pthread.h>

#include <boost/exception/exception.hpp>

#include "Lib/Project/ProjectManager.h"
#include "Platform/Host/LocalFileManager.h"
#include "Platform/Plinth/ioPath.h"

namespace Vantor::Fuzzing {

// The promises a loaded media-container project keeps, whatever its file held.
inline std::string CheckLoadedProject(const Lumo::IProject& project, const ioPath& path) {
    if (project.GetPath() != path) {
        return "the project's path is '" + project.GetPath().utf8string() + "'";
    }
    const Lumo::IProject::Info info = project.GetInfo();
    const bool fromReaderAlone = info.version == Core::Version(0);
    if (!fromReaderAlone && info.version != Core::Version()) {
        return "the description has a version that is neither 0 nor absent";
    }
    for (std::size_t i = 0; i < info.streams.size(); ++i) {
        const Lumo::IProject::StreamInfo& stream = info.streams[i];
        const std::string which = "stream " + std::to_string(i);
        if (stream.index != static_cast<std::int32_t>(i) || stream.path != path) {
            return which + " has the wrong index or path";
        }
        if (fromReaderAlone) {
            if (!stream.group.empty() || !stream.pip_position.empty() || stream.pip_scale != 0.2) {
                return which + " carries document values in a description from the reader alone";
            }
        } else if (stream.type != MediaType::Audio && stream.type != MediaType::Video) {
            return which + " is described by the document but is neither audio nor video";
        }
    }
    return {};
}

// Hosts load projects from worker threads, whose stacks may be this small. Loading on such a
// stack turns recursion that a file's content drives into a crash on every machine, rather than
// into a hang or a crash only where stacks or the open-file limit happen to be large.
constexpr std::size_t kWorkerThreadStackBytes = 256 * 1024;

// Runs `work` to its end on a new thread with `stackBytes` of stack; what it throws is
// rethrown here.
template <class Work>
void RunOnThreadWithStack(std::size_t stackBytes, Work& work) {
    struct Job {
        Work* work;
        std::exception_ptr error;
    } job{&work, nullptr};
    pthread_attr_t attributes;
    pthread_attr_init(&attributes);
    pthread_attr_setstacksize(&attributes, stackBytes);
    pthread_t thread;
    const int created = pthread_create(
        &thread, &attributes,
        [](void* argument) -> void* {
            Job& job = *static_cast<Job*>(argument);
            try {
                (*job.work)();
            } catch (...) {
                job.error = std::current_exception();
            }
            return nullptr;
        },
        &job);
    pthread_attr_destroy(&attributes);
    if (created != 0) {
        throw std::system_error(created, std::generic_category(), "pthread_create");
    }
    pthread_join(thread, nullptr);
    if (job.error) {
        std::rethrow_exception(job.error);
    }
}

// Writes `bytes` to `path` (which should end in ".mkv") and opens it with
// ProjectManager::LoadProject on a small worker stack. A clear exception and a loaded project
// are both fine; an exception of any other kind escapes and is a finding, like a crash, a leak
// or a hang. Returns the first broken promise as text, or an empty string.
inline std::string CheckContainerOpen(const std::string& bytes, const ioPath& path) {
    {
        std::ofstream file(path.utf8string(), std::ios::binary | std::ios::trunc);
        file.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
        if (!file.flush()) {
            throw std::runtime_error("can not write " + path.utf8string());
        }
    }

    Lumo::ProjectManager manager(std::make_shared<Lumo::LocalFileManager>(), {});
    bool failed = false;
    auto load = [&] {
        try {
            manager.LoadProject(path);
        } catch (const std::exception&) {
            failed = true;
        } catch (const boost::exception&) {
            failed = true;
        }
    };
    RunOnThreadWithStack(kWorkerThreadStackBytes, load);

    const std::shared_ptr<Lumo::IProject> project = manager.GetCurrentProject();
    if (failed) {
        return project ? "a failed load left a current project" : "";
    }
    if (!project) {
        return "a load succeeded without a current project";
    }
    return CheckLoadedProject(*project, path);
}

}  // namespace Vantor::Fuzzing
