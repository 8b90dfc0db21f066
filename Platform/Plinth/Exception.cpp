#include "Platform/Plinth/Exception.h"

#include <vector>

#include <boost/stacktrace/stacktrace.hpp>

#include "Platform/Plinth/Symbolizer.h"

namespace Vantor {

Exception::Exception() = default;
Exception::Exception(const Exception&) = default;
Exception::~Exception() = default;

std::string GetCallStack() {
    // Skip this function's own frame: the stack starts at whoever asked for it. Only the
    // addresses come from Boost.Stacktrace; its symbolisers read all debug information.
    const boost::stacktrace::stacktrace stack(1, static_cast<std::size_t>(-1));
    std::vector<const void*> addresses;
    addresses.reserve(stack.size());
    for (const boost::stacktrace::frame& frame : stack) {
        addresses.push_back(frame.address());
    }
    return Detail::DescribeCallStack(addresses.data(), addresses.size());
}

}  // namespace Vantor
