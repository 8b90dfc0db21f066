#pragma once

/// @file
/// Reading a media container's streams and metadata, and the factory behind it.

#include <cstdint>
#include <functional>

#include <boost/intrusive_ptr.hpp>

#include "Platform/Plinth/MediaType.h"
#include "Platform/Plinth/RefCountable.h"
#include "Platform/Plinth/ioPath.h"
#include "Platform/Tagset/IFormatFile.h"
#include "Platform/VantorExport.h"

namespace Vantor::Proc {

/// One stream of a container, as a reader found it. Owned through `boost::intrusive_ptr`.
struct VANTOR_API IStream : public virtual IRefCountable {
    /// The stream's position in the container, from 0.
    virtual std::uint32_t GetIndex() const = 0;
    /// The stream's kind; MediaType::None when the container does not say.
    virtual MediaType GetMediaType() const = 0;
};

/// What a container's header says: its streams, its duration and its metadata. Made by
/// CreateStreamReader, owned through `boost::intrusive_ptr`. The built-in reader holds no file
/// open and answers from what it read at creation, the same on every call; its objects may be
/// used from any thread. A reader of a host's own must keep the same promises.
struct VANTOR_API IStreamReader : public virtual IRefCountable {
    /// The path it was made for.
    virtual ioPath GetPath() const = 0;
    /// The container's metadata; never null.
    virtual boost::intrusive_ptr<Conf::IFormatFile> GetFormatFile() const = 0;
    /// The number of streams; the same on every call.
    virtual std::uint32_t GetStreamCount() const = 0;
    /// The duration the header declares (else its longest stream's), in microseconds; 0 when
    /// it declares none.
    virtual std::int64_t GetDurationMicroseconds() const = 0;
    /// The stream at `index`, below GetStreamCount(); never null. @throws std::out_of_range
    /// for an index at or beyond the count.
    virtual boost::intrusive_ptr<IStream> GetStream(std::uint32_t index) const = 0;
};

}  // namespace Vantor::Proc

namespace Vantor::Lumo {

/// Returns a reader of the container at `path`, made by the current factory (see
/// SetStreamReaderFactory); the built-in one reads the header with FFmpeg, at a cost that does
/// not grow with the file's size, and refuses anything but a regular file before reading it (a
/// FIFO or a device would block). Thread-safe; the factory is called outside any lock.
///
/// @throws boost::wrapexcept<std::runtime_error> when the built-in reader cannot open the file
///   (missing, not a regular file, not a container FFmpeg reads): the message names the path
///   and the reason. A host's factory throws its own exceptions; one that returns null makes
///   this throw `std::runtime_error` too.
VANTOR_API boost::intrusive_ptr<Proc::IStreamReader> CreateStreamReader(const ioPath& path);

/// Makes a reader for a path, or throws; see CreateStreamReader.
using StreamReaderFactory = std::function<boost::intrusive_ptr<Proc::IStreamReader>(const ioPath&)>;

/// Replaces the factory behind CreateStreamReader and returns the previous one, which is never
/// empty (so a replacement may decorate it); an empty `factory` restores the built-in FFmpeg
/// reader. For tests and for hosts with their own reader. Thread-safe: it takes the same mutex
/// as CreateStreamReader, and a CreateStreamReader already running goes on with the factory it
/// took. Never throws but `std::bad_alloc`; logs nothing.
VANTOR_API StreamReaderFactory SetStreamReaderFactory(StreamReaderFactory factory);

}  // namespace Vantor::Lumo
