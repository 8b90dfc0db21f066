#pragma once

#include <exception>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include <boost/intrusive_ptr.hpp>

#include "Platform/Plinth/RefCountable.h"
#include "Platform/Reelkit/StreamReader.h"
#include "Platform/Tagset/IFormatFile.h"

namespace Vantor::Testing {

// A format file holding `metadata` (none: no metadata slot), or rethrowing `error` whenever the
// metadata is read. It counts the fakes alive, so that a test can check nobody keeps one.
struct FakeFormatFile : RefCounted, Conf::IFormatFile {
    explicit FakeFormatFile(std::optional<std::string> metadata, std::exception_ptr error = nullptr)
        : metadata(metadata), error(error) {
        ++alive;
    }
    ~FakeFormatFile() override { --alive; }
    bool ExistsVantorSpecificMetadata() const override { return metadata.has_value(); }
    std::string GetVantorSpecificMetadata() const override {
        if (error) {
            std::rethrow_exception(error);
        }
        return metadata.value_or("");
    }

    std::optional<std::string> metadata;
    std::exception_ptr error;
    static inline int alive = 0;
};

// A stream reader reporting the streams and format file a test scripts. From GetStream call
// number `failStreamsFrom` on (counting from 0; -1: never) GetStream throws. Readers and streams
// alive are counted, so that a test can check everything was released.
struct ScriptedStreamReader : RefCounted, Proc::IStreamReader {
    ScriptedStreamReader(ioPath path, std::vector<MediaType> streams,
                         boost::intrusive_ptr<FakeFormatFile> formatFile, int failStreamsFrom = -1)
        : path(path), streams(streams), formatFile(formatFile), failFrom(failStreamsFrom) {
        ++alive;
    }
    ~ScriptedStreamReader() override { --alive; }
    ioPath GetPath() const override { return path; }
    boost::intrusive_ptr<Conf::IFormatFile> GetFormatFile() const override { return formatFile; }
    std::uint32_t GetStreamCount() const override { return std::uint32_t(streams.size()); }
    std::int64_t GetDurationMicroseconds() const override { return 0; }
    boost::intrusive_ptr<Proc::IStream> GetStream(std::uint32_t index) const override {
        if (failFrom >= 0 && calls++ >= failFrom) {
            throw std::runtime_error("scripted stream failure");
        }
        return new Stream(index, streams.at(index));
    }

    struct Stream : RefCounted, Proc::IStream {
        Stream(std::uint32_t index, MediaType type) : index(index), type(type) { ++alive; }
        ~Stream() override { --alive; }
        std::uint32_t GetIndex() const override { return index; }
        MediaType GetMediaType() const override { return type; }
        std::uint32_t index;
        MediaType type;
    };
    ioPath path;
    std::vector<MediaType> streams;
    boost::intrusive_ptr<FakeFormatFile> formatFile;
    int failFrom;
    mutable int calls = 0;
    static inline int alive = 0;
};

// Installs a stream reader factory for the life of the object, restoring the previous one, and
// records the paths it was asked to open.
struct ScopedStreamReaderFactory {
    explicit ScopedStreamReaderFactory(Lumo::StreamReaderFactory factory)
        : previous(Lumo::SetStreamReaderFactory([this, factory](const ioPath& path) {
              opened.push_back(path);
              return factory(path);
          })) {}
    ~ScopedStreamReaderFactory() { Lumo::SetStreamReaderFactory(previous); }

    std::vector<ioPath> opened;
    Lumo::StreamReaderFactory previous;
};

}  // namespace Vantor::Testing
