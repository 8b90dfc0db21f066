#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
}

namespace Vantor::Lumo::Tool {

// One Matroska file being written, under its final name from the first byte. Written so that
// it survives a crash: the header (with the tag) reaches the disk before any packet, and a
// cluster is closed and flushed about every second, so a killed recording still opens and
// plays up to its last second or so.
class OutputFile {
public:
    // Creates `path`, which must not exist yet; throws std::runtime_error when it does or can
    // not be made. `containerTag`, when not empty, becomes the VANTOR_SPECIFIC_METADATA.
    OutputFile(const std::string& path, const std::string& containerTag);
    // Closes the file; without Finish it stays as a crash would leave it.
    ~OutputFile();
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;

    const std::string& Path() const { return path_; }
    bool NeedsGlobalHeader() const;
    // A stream for the opened `encoder`; it must get the index `index`.
    AVStream* AddStream(const AVCodecContext& encoder, int index);
    // Writes the header and pushes it to the disk.
    void WriteHeader();
    // Takes the packet's content; its timestamps are in its stream's time base. Safe to call
    // from several threads.
    void Write(AVPacket& packet);
    // Writes the trailer (duration, cues) and closes the file.
    void Finish();
    std::uint64_t PacketsWritten() const { return packets_; }

private:
    std::string path_;
    AVFormatContext* context_ = nullptr;
    std::mutex writing_;
    std::atomic<std::uint64_t> packets_{0};
};

// The file in `files` written at `path`; a new one, added to them, the first time.
OutputFile& FileAt(std::vector<std::unique_ptr<OutputFile>>& files, const std::string& path,
                   const std::string& containerTag);

}  // namespace Vantor::Lumo::Tool
