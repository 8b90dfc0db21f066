#include "tests/Support/ScriptedStreamReader.h"

#include <stdexcept>

namespace Vantor::Testing {

int ScriptedStreamReader::alive_ = 0;

class ScriptedStream : public RefCounted, public Proc::IStream {
public:
    ScriptedStream(std::uint32_t index, MediaType type) : index_(index), type_(type) {
        ++ScriptedStreamReader::alive_;
    }
    std::uint32_t GetIndex() const override { return index_; }
    MediaType GetMediaType() const override { return type_; }

protected:
    ~ScriptedStream() override { --ScriptedStreamReader::alive_; }

private:
    std::uint32_t index_;
    MediaType type_;
};

boost::intrusive_ptr<ScriptedStreamReader> ScriptedStreamReader::Make(
    std::vector<MediaType> streams, boost::intrusive_ptr<FakeFormatFile> formatFile) {
    return boost::intrusive_ptr<ScriptedStreamReader>(
        new ScriptedStreamReader(std::move(streams), std::move(formatFile)));
}

ScriptedStreamReader::ScriptedStreamReader(std::vector<MediaType> streams,
                                           boost::intrusive_ptr<FakeFormatFile> formatFile)
    : streams_(std::move(streams)), formatFile_(std::move(formatFile)) {
    ++alive_;
}

ScriptedStreamReader::~ScriptedStreamReader() {
    --alive_;
}

std::uint32_t ScriptedStreamReader::GetStreamCount() const {
    return static_cast<std::uint32_t>(streams_.size());
}

boost::intrusive_ptr<Proc::IStream> ScriptedStreamReader::GetStream(std::uint32_t index) const {
    if (failStreamsFrom_ >= 0 && streamCalls_++ >= failStreamsFrom_) {
        throw std::runtime_error("scripted stream failure");
    }
    return boost::intrusive_ptr<Proc::IStream>(new ScriptedStream(index, streams_.at(index)));
}

ScopedStreamReaderFactory::ScopedStreamReaderFactory(Lumo::StreamReaderFactory factory)
    : previous_(Lumo::SetStreamReaderFactory([this, factory](const ioPath& path) {
          opened_.push_back(path);
          return factory(path);
      })) {}

ScopedStreamReaderFactory::~ScopedStreamReaderFactory() {
    Lumo::SetStreamReaderFactory(std::move(previous_));
}

}  // namespace Vantor::Testing
