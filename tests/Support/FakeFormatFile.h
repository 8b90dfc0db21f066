#pragma once

#include <exception>
#include <string>

#include <boost/intrusive_ptr.hpp>

#include "Platform/Plinth/RefCountable.h"
#include "Platform/Tagset/IFormatFile.h"

namespace Vantor::Testing {

// A format file whose maker-specific metadata a test sets directly. It counts how often the
// metadata is asked for and how many fakes are alive, so a test can check both.
class FakeFormatFile : public RefCounted, public Conf::IFormatFile {
public:
    // A format file whose metadata slot is present and holds `metadata`.
    static boost::intrusive_ptr<FakeFormatFile> WithMetadata(std::string metadata);
    // A format file without the metadata slot: Exists is false, the text is empty.
    static boost::intrusive_ptr<FakeFormatFile> WithoutMetadata();

    void SetExists(bool exists) { exists_ = exists; }
    void SetMetadata(std::string metadata) { metadata_ = std::move(metadata); }
    // Every later GetVantorSpecificMetadata call rethrows `error`; a null pointer stops that.
    void FailReadsWith(std::exception_ptr error) { readError_ = std::move(error); }

    int MetadataReads() const { return metadataReads_; }
    static int Alive() { return alive_; }

    bool ExistsVantorSpecificMetadata() const override { return exists_; }
    std::string GetVantorSpecificMetadata() const override;

protected:
    ~FakeFormatFile() override;

private:
    FakeFormatFile(bool exists, std::string metadata);

    bool exists_;
    std::string metadata_;
    std::exception_ptr readError_;
    mutable int metadataReads_ = 0;
    static int alive_;
};

}  // namespace Vantor::Testing
