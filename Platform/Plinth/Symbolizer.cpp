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

    std::string Describe(const void* const* addresses, std::size_t count) {
        std::string text;
        text.reserve(count * 128);
        const std::lock_guard<std::mutex> lock(mutex_);
        for (std::size_t number = 0; number < count; ++number) {
            char prefix[32];
            std::snprintf(prefix, sizeof prefix, "%2zu# ", number);
            text += prefix;
            AppendFrame(reinterpret_cast<std::uintptr_t>(addresses[number]), text);
            text += '\n';
        }
        return text;
    }

private:
    void AppendFrame(std::uintptr_t address, std::string& text) {
        // A return address points past its call, which may be the last instruction of a
        // function that never returns: the call itself is one byte before.
        const std::uintptr_t call = address > 0 ? address - 1 : address;
        const link_map* map = LoadedModuleOf(call);
        if (!map) {
            text += Hex(address);
            return;
        }
        Module& module = ModuleOf(*map);
        auto [frame, added] = module.frames.try_emplace(address - map->l_addr);
        if (added) {
            frame->second = FrameText(module, map->l_addr, address, call);
        }
        text += frame->second;
    }

    // "function+0x1c in module+0x4f21c"
    static std::string FrameText(const Module& module, std::uintptr_t bias, std::uintptr_t address,
                                 std::uintptr_t call) {
        std::string text;
        Dl_info found{};
        if (const ElfSymbols::Function* function = module.symbols.Find(call - bias)) {
            text = boost::core::demangle(module.symbols.Name(*function)) + '+' +
                   Hex(address - bias - function->start);
        } else if (dladdr(reinterpret_cast<void*>(call), &found) && found.dli_sname &&
                   found.dli_saddr) {
            // A stripped module: the dynamic linker knows its exported functions.
            text = boost::core::demangle(found.dli_sname) + '+' +
                   Hex(address - reinterpret_cast<std::uintptr_t>(found.dli_saddr));
        } else {
            text = "??";
        }
        return text + " in " + module.displayName + '+' + Hex(address - bias);
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
