#pragma once

#include <exception>
#include <string>

#include <boost/exception/exception.hpp>
#include <boost/exception/info.hpp>

#include "Platform/VantorExport.h"

namespace Vantor {

struct TagCallStack {};
using CallStackInfo = boost::error_info<TagCallStack, std::string>;

struct VANTOR_API Exception : public virtual std::exception, public virtual boost::exception {
    Exception();
    Exception(const Exception&);
    ~Exception() override;
};

// Text of the caller's stack, innermost first, one frame a line:
//   " 1# Vantor::Lumo::FolderProject::OpenProject(...)+0x21d in /lib/libLumoProject.so.0+0x253fd"
// that is, the demangled function and the offset in it, then the module's file and the offset in
// that (as addr2line takes it). Stripped modules name only their exported functions, others "??".
// Symbolised in-process from the modules' symbol tables, never their debug information; the
// first frame of a module costs reading its table once per process. Thread-safe. Throws only
// std::bad_alloc; logs nothing.
VANTOR_API std::string GetCallStack();

}  // namespace Vantor
