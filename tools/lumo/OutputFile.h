#pragma once

#include <string>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
}

namespace Vantor::Lumo::Tool {

// One Matroska file being written. It grows under a hidden temporary name beside `path` and
// takes its real name only at Commit, so a recording that fails midway never leaves a partial
// file under the project's name; until then the destructor removes it.
class OutputFile {
public:
    // `containerTag`, when not empty, becomes the container's VANTOR_SPECIFIC_METADATA.
    OutputFile(const std::string& path, const std::string& containerTag);
    ~OutputFile();
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;

    const std::string& Path() const { return path_; }
    bool NeedsGlobalHeader() const;
    // A stream for the opened `encoder`; it must get the index `index`.
    AVStream* AddStream(const AVCodecContext& encoder, int index);
    void WriteHeader();
    // Takes the packet's content; its timestamps are in its stream's time base.
    void Write(AVPacket& packet);
    // Writes the trailer and closes the file, still under its temporary name.
    void Finish();
    // Gives it its real name; never replaces a file that appeared there meanwhile.
    void Commit();

private:
    std::string path_;
    std::string temporary_;
    AVFormatContext* context_ = nullptr;
    bool committed_ = false;
};

}  // namespace Vantor::Lumo::Tool
