#include "tests/Support/FakeFormatFile.h"

#include <utility>

namespace Vantor::Testing {

int FakeFormatFile::alive_ = 0;

FakeFormatFile::FakeFormatFile(bool exists, std::string metadata)
    : exists_(exists), metadata_(std::move(metadata)) {
    ++alive_;
}

FakeFormatFile::~FakeFormatFile() {
    --alive_;
}

boost::intrusive_ptr<FakeFormatFile> FakeFormatFile::WithMetadata(std::string metadata) {
    return boost::intrusive_ptr<FakeFormatFile>(new FakeFormatFile(true, std::move(metadata)));
}

boost::intrusive_ptr<FakeFormatFile> FakeFormatFile::WithoutMetadata() {
    return boost::intrusive_ptr<FakeFormatFile>(new FakeFormatFile(false, ""));
}

std::string FakeFormatFile::GetVantorSpecificMetadata() const {
    ++metadataReads_;
    if (readError_) {
        std::rethrow_exception(readError_);
    }
    return metadata_;
}

}  // namespace Vantor::Testing
