#pragma once

// Turns return addresses into text without reading any debug information: each module's own ELF
// symbol table, read once per module and kept for the life of the process, names its functions,
// hidden and static ones included; the dynamic linker names the rest. Private to VantorPlatform.

#include <cstddef>
#include <string>

namespace Vantor::Detail {

// One line per address, numbered from 0, e.g.
//   " 3# Vantor::Lumo::FolderProject::OpenProject(...)+0x1c4 in /lib/libLumoProject.so.0+0x253fd"
// "??" stands for a function no table names; a bare address for one outside every module.
// Thread-safe; usable from static destructors. Throws only std::bad_alloc; logs nothing.
std::string DescribeCallStack(const void* const* addresses, std::size_t count);

}  // namespace Vantor::Detail
