#include "Platform/Plinth/Exception.h"

#include <boost/stacktrace.hpp>

namespace Vantor {

Exception::Exception() = default;
Exception::Exception(const Exception&) = default;
Exception::~Exception() = default;

std::string GetCallStack() {
    // Skip this function's own frame: the stack starts at whoever asked for it.
    return boost::stacktrace::to_string(
        boost::stacktrace::stacktrace(1, static_cast<std::size_t>(-1)));
}

}  // namespace Vantor
