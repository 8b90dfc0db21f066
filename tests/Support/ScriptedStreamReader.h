#pragma once

#include <functional>
#include <vector>

#include <boost/intrusive_ptr.hpp>

#include "Platform/Plinth/RefCountable.h"
#include "Platform/Reelkit/StreamReader.h"
#include "tests/Support/FakeFormatFile.h"

namespace Vantor::Testing {

// A stream reader that reports the streams and the format file a test scripts, and counts
// the media objects alive so that a test can check everything was released.
class ScriptedStreamReader : public RefCounted, public Proc::IStreamReader {
public:
    static boost::intrusive_ptr<ScriptedStreamReader> Make(
        std::vector<MediaType> streams, boost::intrusive_ptr<FakeFormatFile> formatFile);

    ioPath GetPath() const override { return path_; }
    boost::intrusive_ptr<Conf::IFormatFile> GetFormatFile() const override { return formatFile_; }
    std::uint32_t GetStreamCount() const override;
    std::int64_t GetDurationMicroseconds() const override { return 0; }
    boost::intrusive_ptr<Proc::IStream> GetStream(std::uint32_t index) const override;

    // Each GetStream from call `failAt` on (counting from 0) throws std::runtime_error.
    void FailStreamsFrom(int failAt) { failStreamsFrom_ = failAt; }
    void SetPath(const ioPath& path) { path_ = path; }

    // Readers and streams alive, format files excluded (FakeFormatFile counts those).
    static int Alive() { return alive_; }

protected:
    ~ScriptedStreamReader() override;

private:
    ScriptedStreamReader(std::vector<MediaType> streams,
                         boost::intrusive_ptr<FakeFormatFile> formatFile);

    ioPath path_;
    std::vector<MediaType> streams_;
    boost::intrusive_ptr<FakeFormatFile> formatFile_;
    int failStreamsFrom_ = -1;
    mutable int streamCalls_ = 0;
    static int alive_;

    friend class ScriptedStream;
};

// Installs a stream reader factory for the life of the object, restoring the previous one.
class ScopedStreamReaderFactory {
public:
    explicit ScopedStreamReaderFactory(Lumo::StreamReaderFactory factory);
    ~ScopedStreamReaderFactory();
    ScopedStreamReaderFactory(const ScopedStreamReaderFactory&) = delete;
    ScopedStreamReaderFactory& operator=(const ScopedStreamReaderFactory&) = delete;

    // Paths the factory was asked to open, in order.
    const std::vector<ioPath>& OpenedPaths() const { return opened_; }

private:
    std::vector<ioPath> opened_;
    Lumo::StreamReaderFactory previous_;
};

}  // namespace Vantor::Testing
