#include "Platform/Plinth/Symbolizer.h"

#include <dlfcn.h>
#include <link.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <map>
#include <memory>
#include <mutex>
#include <unordered_map>
#include <vector>

#include <boost/core/demangle.hpp>

#include "Platform/Plinth/ElfSymbols.h"

namespace Vantor::Detail {

namespace {

// The running program's own file, for the main module, whose loader name is empty.
std::string ProgramPath() {
    char path[4096];
    const ssize_t length = ::readlink("/proc/self/exe", path, sizeof path - 1);
    return length > 0 ? std::string(path, static_cast<std::size_t>(length)) : std::string();
}

struct Module {
    Module(const std::string& name, std::uintptr_t bias)
        : loaderName(name),
          displayName(name.empty() ? ProgramPath() : name),
          symbols(name.empty() ? "/proc/self/exe" : name, LoadedBuildId(bias)) {}

    std::string loaderName;   // as the dynamic linker knows it; empty for the program
    std::string displayName;  // the file's path
    ElfSymbols symbols;
    // The text of each return address seen, by file address: a failure at a call site seen
    // before costs a look-up. Bounded by the call sites that ever failed.
    std::unordered_map<std::uintptr_t, std::string> frames;
};

std::string Hex(std::uintptr_t value) {
    char text[2 + 2 * sizeof value + 1];
    std::snprintf(text, sizeof text, "0x%jx", static_cast<std::uintmax_t>(value));
    return text;
}

// The dynamic linker's record of the module holding `address`, or nullptr.
const link_map* LoadedModuleOf(std::uintptr_t address) {
#ifdef DLFO_EH_SEGMENT_TYPE
    // glibc 2.35 and later: a lock-free look-up, where dladdr would also scan the module's
    // dynamic symbols.
    dl_find_object found{};
    if (_dl_find_object(reinterpret_cast<void*>(address), &found) == 0) {
        return found.dlfo_link_map;
    }
    return nullptr;
#else
    Dl_info found{};
    link_map* map = nullptr;
    if (dladdr1(reinterpret_cast<void*>(address), &found, reinterpret_cast<void**>(&map),
                RTLD_DL_LINKMAP)) {
        return map;
    }
    return nullptr;
#endif
}

// One table of modules and frame texts for the whole process, filled as stacks need them. Never
// destroyed, so that a throw from another library's static destructor still works.
class Symbolizer {
public:
    static Symbolizer& Instance() {
        static Symbolizer* const instance = new Symbolizer;
        return *instance;
    }

    // The dynamic linker's own lock (dladdr takes it) is never taken under mutex_: a library
    // constructor that throws while dlopen holds that lock would otherwise wait for mutex_ while
    // its holder waited for the linker.
    std::string Describe(const void* const* addresses, std::size_t count) {
        std::vector<Frame> frames(count);
        for (std::size_t i = 0; i < count; ++i) {
            Frame& frame = frames[i];
            frame.address = reinterpret_cast<std::uintptr_t>(addresses[i]);
            // A return address points past its call, which may be the last instruction of a
            // function that never returns: the call itself is one byte before.
            frame.call = frame.address > 0 ? frame.address - 1 : frame.address;
            // The modules of a running stack stay loaded while it runs.
            frame.map = LoadedModuleOf(frame.call);
        }
        std::vector<Frame*> unnamed;  // in stripped modules: named by the dynamic linker
        {
            const std::lock_guard<std::mutex> lock(mutex_);
            for (Frame& frame : frames) {
                if (frame.map && !NameFromSymbolTable(frame)) {
                    unnamed.push_back(&frame);
                }
            }
        }
        if (!unnamed.empty()) {
            for (Frame* frame : unnamed) {
                NameFromDynamicLinker(*frame);
            }
            const std::lock_guard<std::mutex> lock(mutex_);
            for (const Frame* frame : unnamed) {
                ModuleOf(*frame->map)
                    .frames.emplace(frame->address - frame->map->l_addr, frame->text);
            }
        }

        std::string text;
        text.reserve(count * 128);
        for (std::size_t number = 0; number < count; ++number) {
            char prefix[32];
            std::snprintf(prefix, sizeof prefix, "%2zu# ", number);
            text += prefix;
            text += frames[number].map ? frames[number].text : Hex(frames[number].address);
            text += '\n';
        }
        return text;
    }

private:
    struct Frame {
        std::uintptr_t address = 0;  // the return address
        std::uintptr_t call = 0;     // the call before it, which names the function
        const link_map* map = nullptr;
        std::string text;    // "function+0x1c in module+0x4f21c"
        std::string module;  // " in module+0x4f21c", until the function is named
    };

    // Under mutex_: the frame's text as made before, or from the module's symbol table. False
    // when neither names the function.
    bool NameFromSymbolTable(Frame& frame) {
        Module& module = ModuleOf(*frame.map);
        const std::uintptr_t bias = frame.map->l_addr;
        if (const auto made = module.frames.find(frame.address - bias);
            made != module.frames.end()) {
            frame.text = made->second;
            return true;
        }
        frame.module = " in " + module.displayName + '+' + Hex(frame.address - bias);
        const ElfSymbols::Function* function = module.symbols.Find(frame.call - bias);
        if (!function) {
            return false;
        }
        frame.text = boost::core::demangle(module.symbols.Name(*function)) + '+' +
                     Hex(frame.address - bias - function->start) + frame.module;
        module.frames.emplace(frame.address - bias, frame.text);
        return true;
    }

    // Outside mutex_: the dynamic linker knows the exported functions of a stripped module.
    static void NameFromDynamicLinker(Frame& frame) {
        Dl_info found{};
        if (dladdr(reinterpret_cast<void*>(frame.call), &found) && found.dli_sname &&
            found.dli_saddr) {
            frame.text = boost::core::demangle(found.dli_sname) + '+' +
                         Hex(frame.address - reinterpret_cast<std::uintptr_t>(found.dli_saddr)) +
                         frame.module;
        } else {
            frame.text = "??" + frame.module;
        }
    }

    // Reads a module's symbol table the first time one of its addresses is seen.
    Module& ModuleOf(const link_map& map) {
        const char* name = map.l_name ? map.l_name : "";
        std::unique_ptr<Module>& module = modules_[map.l_addr];
        // Another module may have been loaded where an unloaded one was.
        if (!module || module->loaderName != name) {
            module = std::make_unique<Module>(name, map.l_addr);
        }
        return *module;
    }

    std::mutex mutex_;
    std::map<std::uintptr_t, std::unique_ptr<Module>> modules_;  // by load bias
};

}  // namespace

std::string DescribeCallStack(const void* const* addresses, std::size_t count) {
    return Symbolizer::Instance().Describe(addresses, count);
}

}  // namespace Vantor::Detail
