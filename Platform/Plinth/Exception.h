#pragma once

/// @file
/// The platform exception base and the call stack it carries.

#include <exception>
#include <string>

#include <boost/exception/exception.hpp>
#include <boost/exception/info.hpp>

#include "Platform/VantorExport.h"

namespace Vantor {

/// The tag of the call-stack item that typed exceptions carry.
struct TagCallStack {};
/// The call stack text, as GetCallStack() gave it where the exception was thrown:
/// `boost::get_error_info<Vantor::CallStackInfo>(error)`.
using CallStackInfo = boost::error_info<TagCallStack, std::string>;

/// Base of the platform's and the library's typed exceptions: a `std::exception` that also
/// carries Boost.Exception's information (throw site, CallStackInfo). Its `what()` is the
/// standard library's default text.
struct VANTOR_API Exception : public virtual std::exception, public virtual boost::exception {
    /// An exception without information.
    Exception();
    /// Copies the attached information.
    Exception(const Exception&);
    ~Exception() override;
};

/// Returns the text of the caller's stack, innermost first, one frame a line:
///
///     1# Vantor::Lumo::FolderProject::OpenProject(...)+0x21d in /lib/libLumoProject.so.0+0x253fd
///
/// that is, the demangled function and the offset in it, then the module's file and the offset
/// in that (as addr2line takes it). Stripped modules name only their exported functions, others
/// "??". Symbolised in-process from the modules' symbol tables, never their debug information,
/// and never by starting a process; the first frame of a module costs reading its table once
/// per process. Thread-safe. Throws only `std::bad_alloc`; logs nothing.
VANTOR_API std::string GetCallStack();

}  // namespace Vantor
