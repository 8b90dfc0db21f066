#include "bench/Support/LibdwCallStack.h"

#include <elfutils/libdwfl.h>
#include <execinfo.h>
#include <unistd.h>

#include <cinttypes>
#include <cstdio>

#include <boost/core/demangle.hpp>

namespace Vantor::Bench {

namespace {

// Names come from .symtab and .dynsym; separate debug files are never looked for.
int NoDebugInfo(Dwfl_Module*, void**, const char*, Dwarf_Addr, const char*, const char*, GElf_Word,
                char**) {
    return -1;
}

// The process's modules, reported once, as the library would keep them.
Dwfl* Modules() {
    static Dwfl* const dwfl = [] {
        static const Dwfl_Callbacks callbacks = {dwfl_linux_proc_find_elf, &NoDebugInfo, nullptr,
                                                 nullptr};
        Dwfl* const opened = dwfl_begin(&callbacks);
        dwfl_report_begin(opened);
        dwfl_linux_proc_report(opened, ::getpid());
        dwfl_report_end(opened, nullptr, nullptr);
        return opened;
    }();
    return dwfl;
}

}  // namespace

std::string LibdwCallStack() {
    void* frames[128];
    const int count = ::backtrace(frames, 128);
    Dwfl* const dwfl = Modules();
    std::string text;
    char line[64];
    for (int i = 1; i < count; ++i) {  // from the caller on
        // A return address points after the call: look up the call itself.
        const auto address = reinterpret_cast<Dwarf_Addr>(frames[i]) - 1;
        Dwfl_Module* const module = dwfl_addrmodule(dwfl, address);
        GElf_Off offset = 0;
        GElf_Sym symbol;
        const char* name = module ? dwfl_module_addrinfo(module, address, &offset, &symbol, nullptr,
                                                         nullptr, nullptr)
                                  : nullptr;
        Dwarf_Addr start = 0;
        const char* const file = module ? dwfl_module_info(module, nullptr, &start, nullptr,
                                                           nullptr, nullptr, nullptr, nullptr)
                                        : nullptr;
        std::snprintf(line, sizeof line, "%2d# ", i - 1);
        text += line;
        text += name ? boost::core::demangle(name) : "??";
        std::snprintf(line, sizeof line, "+0x%" PRIx64 " in ", static_cast<std::uint64_t>(offset));
        text += line;
        text += file ? file : "??";
        std::snprintf(line, sizeof line, "+0x%" PRIx64 "\n",
                      static_cast<std::uint64_t>(address + 1 - start));
        text += line;
    }
    return text;
}

}  // namespace Vantor::Bench
