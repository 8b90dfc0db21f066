#pragma once

// How LumoProject raises its failures; it needs nothing but Plinth. Both macros expand at the
// throw site so that BOOST_THROW_EXCEPTION records the operation, file and line that raised it.

#include <string>

#include <boost/throw_exception.hpp>

#include "Platform/Plinth/Exception.h"

namespace Vantor::Lumo {

// A copy of `error` whose message is followed by a line feed and the current call stack.
template <class E>
E AppendCallStack(const E& error) {
    return E(std::string(error.what()) + "\n" + GetCallStack());
}

}  // namespace Vantor::Lumo

// Throws a standard message exception (std::logic_error, std::domain_error) built from `text`.
#define LUMO_THROW_MESSAGE(ErrorType, text) \
    BOOST_THROW_EXCEPTION(::Vantor::Lumo::AppendCallStack(ErrorType(text)))

// Throws a typed project exception for `path` with the call stack attached.
#define LUMO_THROW_PROJECT_ERROR(ExceptionType, path) \
    BOOST_THROW_EXCEPTION(ExceptionType(path) << ::Vantor::CallStackInfo(::Vantor::GetCallStack()))
