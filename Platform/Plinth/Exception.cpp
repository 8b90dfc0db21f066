#include "Platform/Plinth/Exception.h"

#include <dlfcn.h>

#include <cstdint>
#include <cstdio>
#include <mutex>
#include <string>
#include <utility>

#include <boost/core/demangle.hpp>
#include <boost/stacktrace/stacktrace.hpp>

// libbacktrace, the symboliser of Boost.Stacktrace's backtrace backend, whose library carries it.
// These are its declarations from GCC's <backtrace.h>, which only GCC has on its include path.
extern "C" {
struct backtrace_state;
using backtrace_error_callback = void (*)(void* data, const char* message, int error);
using backtrace_full_callback = int (*)(void* data, std::uintptr_t pc, const char* file, int line,
                                        const char* function);
using backtrace_syminfo_callback = void (*)(void* data, std::uintptr_t pc, const char* symbol,
                                            std::uintptr_t value, std::uintptr_t size);
backtrace_state* backtrace_create_state(const char* filename, int threaded,
                                        backtrace_error_callback onError, void* data);
int backtrace_pcinfo(backtrace_state* state, std::uintptr_t pc, backtrace_full_callback onFrame,
                     backtrace_error_callback onError, void* data);
int backtrace_syminfo(backtrace_state* state, std::uintptr_t pc,
                      backtrace_syminfo_callback onSymbol, backtrace_error_callback onError,
                      void* data);
}

namespace Vantor {

namespace {

struct FrameText {
    std::string function;
    std::string file;
    int line = 0;
};

void IgnoreError(void* /*data*/, const char* /*message*/, int /*error*/) {}

int KeepSourceLocation(void* data, std::uintptr_t /*pc*/, const char* file, int line,
                       const char* function) {
    FrameText& frame = *static_cast<FrameText*>(data);
    if (file) {
        frame.file = file;
    }
    if (function) {
        frame.function = function;
    }
    frame.line = line;
    return 0;
}

void KeepSymbol(void* data, std::uintptr_t /*pc*/, const char* symbol, std::uintptr_t /*value*/,
                std::uintptr_t /*size*/) {
    if (symbol) {
        static_cast<FrameText*>(data)->function = symbol;
    }
}

// The same text as boost::stacktrace::to_string: " 3# function at file:line", or "in module"
// where the debug information has no line.
std::string FrameLine(std::size_t number, const void* address, FrameText frame) {
    char prefix[32];
    std::snprintf(prefix, sizeof prefix, "%2zu# ", number);
    std::string line = prefix;
    if (!frame.function.empty()) {
        line += boost::core::demangle(frame.function.c_str());
    } else {
        char hex[32];
        std::snprintf(hex, sizeof hex, "%p", address);
        line += hex;
    }
    Dl_info module{};
    if (!frame.file.empty() && frame.line > 0) {
        line += " at " + frame.file + ":" + std::to_string(frame.line);
    } else if (dladdr(address, &module) && module.dli_fname) {
        line += std::string(" in ") + module.dli_fname;
    }
    return line + "\n";
}

// One symbol table for the whole process, read at the first call. Boost.Stacktrace's own
// to_string keeps one per thread and never frees it, so every thread that raised an exception
// read the debug information again (a third of a second) and kept its own copy (over 20 MiB):
// a host loading projects on short-lived worker threads grew without bound.
class Symbolizer {
public:
    // Never destroyed, so that a throw from another library's static destructor still works.
    static Symbolizer& Instance() {
        static Symbolizer* const instance = new Symbolizer;
        return *instance;
    }

    std::string Describe(const boost::stacktrace::stacktrace& stack) {
        std::string text;
        std::size_t number = 0;
        // The state is made for one thread at a time (threaded = 0), as Boost.Stacktrace does.
        const std::lock_guard<std::mutex> lock(mutex_);
        for (const boost::stacktrace::frame& frame : stack) {
            const auto pc = reinterpret_cast<std::uintptr_t>(frame.address());
            FrameText found;
            if (state_) {
                backtrace_pcinfo(state_, pc, &KeepSourceLocation, &IgnoreError, &found);
                // The symbol table names functions the debug information leaves unnamed.
                if (found.function.empty()) {
                    backtrace_syminfo(state_, pc, &KeepSymbol, &IgnoreError, &found);
                }
            }
            text += FrameLine(number++, frame.address(), std::move(found));
        }
        return text;
    }

private:
    Symbolizer() : state_(backtrace_create_state(nullptr, 0, &IgnoreError, nullptr)) {}

    std::mutex mutex_;
    backtrace_state* state_;  // libbacktrace has no way to free one; it lives with the process
};

}  // namespace

Exception::Exception() = default;
Exception::Exception(const Exception&) = default;
Exception::~Exception() = default;

std::string GetCallStack() {
    // Skip this function's own frame: the stack starts at whoever asked for it.
    return Symbolizer::Instance().Describe(
        boost::stacktrace::stacktrace(1, static_cast<std::size_t>(-1)));
}

}  // namespace Vantor
