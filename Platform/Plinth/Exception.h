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

// Text of the caller's stack, one frame a line, symbolised in-process.
VANTOR_API std::string GetCallStack();

}  // namespace Vantor
