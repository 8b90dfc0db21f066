#pragma once

#include <exception>
#include <string>

namespace Vantor::Lumo::Tool {

// The failure as one line naming the path it is about and the reason, without the call stack
// the library appends to its messages; with `verbose`, followed by everything Boost.Exception
// knows (throw site, call stack).
std::string DescribeFailure(const std::exception_ptr& failure, const std::string& subject,
                            bool verbose);

}  // namespace Vantor::Lumo::Tool
