#pragma once

#include <cstdint>
#include <functional>

#include <boost/intrusive_ptr.hpp>

#include "Platform/Plinth/MediaType.h"
#include "Platform/Plinth/RefCountable.h"
#include "Platform/Plinth/ioPath.h"
#include "Platform/Tagset/IFormatFile.h"
#include "Platform/VantorExport.h"

namespace Vantor::Proc {

struct VANTOR_API IStream : public virtual IRefCountable {
    virtual std::uint32_t GetIndex() const = 0;
    virtual MediaType GetMediaType() const = 0;
};

struct VANTOR_API IStreamReader : public virtual IRefCountable {
    virtual ioPath GetPath() const = 0;
    virtual boost::intrusive_ptr<Conf::IFormatFile> GetFormatFile() const = 0;
    virtual std::uint32_t GetStreamCount() const = 0;
    virtual std::int64_t GetDurationMicroseconds() const = 0;
    virtual boost::intrusive_ptr<IStream> GetStream(std::uint32_t index) const = 0;
};

}  // namespace Vantor::Proc

namespace Vantor::Lumo {

// Opens the container's header; throws a message exception naming the path and the reason.
VANTOR_API boost::intrusive_ptr<Proc::IStreamReader> CreateStreamReader(const ioPath& path);

using StreamReaderFactory = std::function<boost::intrusive_ptr<Proc::IStreamReader>(const ioPath&)>;
// Replaces the factory behind CreateStreamReader and returns the previous one; an empty
// factory restores the built-in FFmpeg reader. For tests and for hosts with their own reader.
VANTOR_API StreamReaderFactory SetStreamReaderFactory(StreamReaderFactory factory);

}  // namespace Vantor::Lumo
