#pragma once

// Waiting for work that may never end: a device that accepts a connection and then never
// answers blocks inside its library, where nothing can interrupt it.

#include <chrono>
#include <exception>
#include <functional>
#include <future>
#include <memory>
#include <stdexcept>
#include <string>
#include <thread>

namespace Vantor::Lumo::Recorder {

// Why WaitOrAbandon gave up: a stop was asked for, or the work took too long.
class Abandoned : public std::runtime_error {
public:
    enum class Reason { Stopped, TimedOut };
    Abandoned(Reason reason, const std::string& what) : std::runtime_error(what), reason(reason) {}
    const Reason reason;
};

// Runs `work` on a thread of its own and answers its result, or rethrows what it threw. Every
// 20 ms it asks `stopRequested`; when that answers true, or `limit` has passed, it throws
// Abandoned (with `timeoutText` as the message when timed out) and leaves the thread behind,
// detached, owning everything it uses: it ends whenever `work` does, or with the process.
template <class T>
T WaitOrAbandon(std::function<T()> work, std::chrono::milliseconds limit,
                const std::function<bool()>& stopRequested, const std::string& timeoutText) {
    auto task = std::make_shared<std::packaged_task<T()>>(std::move(work));
    std::future<T> answer = task->get_future();
    std::thread([task] { (*task)(); }).detach();
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (answer.wait_for(std::chrono::milliseconds(20)) != std::future_status::ready) {
        if (stopRequested && stopRequested()) {
            throw Abandoned(Abandoned::Reason::Stopped, "stopped before it was done");
        }
        if (std::chrono::steady_clock::now() >= deadline) {
            throw Abandoned(Abandoned::Reason::TimedOut, timeoutText);
        }
    }
    return answer.get();
}

}  // namespace Vantor::Lumo::Recorder
