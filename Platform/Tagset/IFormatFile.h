#pragma once

/// @file
/// IFormatFile, the container-level metadata of a media file.

#include <string>

#include "Platform/Plinth/RefCountable.h"
#include "Platform/VantorExport.h"

/// The platform's configuration types.
namespace Vantor::Conf {

/// The container-level metadata of a media file, as a stream reader found it: here, the maker's
/// own tag `VANTOR_SPECIFIC_METADATA`, which holds the stream metadata document. Owned through
/// `boost::intrusive_ptr`; a reader's format file holds a copy of the tag, so it outlives the
/// reader. The built-in one may be used from any thread.
struct VANTOR_API IFormatFile : public virtual IRefCountable {
    /// True when the container carries the tag, even with an empty value.
    virtual bool ExistsVantorSpecificMetadata() const = 0;
    /// The tag's text; empty when there is none.
    virtual std::string GetVantorSpecificMetadata() const = 0;
};

}  // namespace Vantor::Conf
