#pragma once

#include <string>

#include "Platform/Plinth/RefCountable.h"
#include "Platform/VantorExport.h"

namespace Vantor::Conf {

struct VANTOR_API IFormatFile : public virtual IRefCountable {
    virtual bool ExistsVantorSpecificMetadata() const = 0;
    virtual std::string GetVantorSpecificMetadata() const = 0;
};

}  // namespace Vantor::Conf
