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
};

std::string Hex(std::uintptr_t value) {
    char text[2 + 2 * sizeof value + 1];
    std::snprintf(text, sizeof text, "0x%jx", static_cast<std::uintmax_t>(value));
    return text;
}

// One table of modules and names for the whole process, filled as stacks need them. Never
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
        Dl_info found{};
        link_map* map = nullptr;
        if (!dladdr1(reinterpret_cast<void*>(call), &found, reinterpret_cast<void**>(&map),
                     RTLD_DL_LINKMAP) ||
            !map) {
            text += Hex(address);
            return;
        }
        const Module& module = ModuleOf(*map);
        if (const ElfSymbols::Function* function = module.symbols.Find(call - map->l_addr)) {
            text += Demangled(function->name);
            text += '+' + Hex(address - map->l_addr - function->start);
        } else if (found.dli_sname && found.dli_saddr) {
            // A stripped module: the dynamic linker knows its exported functions.
            text += Demangled(found.dli_sname);
            text += '+' + Hex(address - reinterpret_cast<std::uintptr_t>(found.dli_saddr));
        } else {
            text += "??";
        }
        text += " in " + module.displayName + '+' + Hex(address - map->l_addr);
    }

    // Reads a module's symbol table the first time one of its addresses is seen.
    const Module& ModuleOf(const link_map& map) {
        const char* name = map.l_name ? map.l_name : "";
        std::unique_ptr<Module>& module = modules_[map.l_addr];
        // Another module may have been loaded where an unloaded one was.
        if (!module || module->loaderName != name) {
            module = std::make_unique<Module>(name, map.l_addr);
        }
        return *module;
    }

    const std::string& Demangled(const char* symbol) {
        auto [entry, added] = demangled_.try_emplace(symbol);
        if (added) {
            entry->second = boost::core::demangle(symbol);
        }
        return entry->second;
    }

    std::mutex mutex_;
    std::map<std::uintptr_t, std::unique_ptr<Module>> modules_;  // by load bias
    std::unordered_map<std::string, std::string> demangled_;     // by mangled name
};

}  // namespace

std::string DescribeCallStack(const void* const* addresses, std::size_t count) {
    return Symbolizer::Instance().Describe(addresses, count);
}

}  // namespace Vantor::Detail
