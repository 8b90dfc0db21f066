#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
}

#include "Recorder/Output/LateNamedFile.h"

namespace Vantor::Lumo::Recorder {

// One Matroska file of a recording, written so that whatever happens to the process, the file
// either is not there or opens: it takes its name once its header and first cluster (about
// half a second) are on the disk, and after that a cluster is closed and flushed about every
// second, so a killed recording still plays up to its last second or so.
class MatroskaWriter {
public:
    // Prepares the file for `path` (see LateNamedFile for `nextName`). `containerTag`, when not
    // empty, becomes the VANTOR_SPECIFIC_METADATA. Throws std::runtime_error when no file can
    // be made there.
    MatroskaWriter(const std::string& path, const std::string& containerTag, NextName nextName);
    // Without Finish or Keep the file is discarded.
    ~MatroskaWriter();
    MatroskaWriter(const MatroskaWriter&) = delete;
    MatroskaWriter& operator=(const MatroskaWriter&) = delete;

    // The file's name, or the one it will try first.
    std::string Path() const;
    bool NeedsGlobalHeader() const;
    // A stream for the opened `encoder`; it must get the index `index`.
    AVStream* AddStream(const AVCodecContext& encoder, int index);
    // Writes the header and pushes it to the disk.
    void WriteHeader();
    // Takes the packet's content; its timestamps are in its stream's time base. Safe to call
    // from several threads. Throws std::runtime_error when writing or naming fails ("the disk
    // is full" when it is).
    void Write(AVPacket& packet);
    // Writes the trailer (duration, cues) and gives the file its name. Throws like Write.
    void Finish();
    // After a failure: gives the file its name when it opens (a cluster reached the disk) and
    // answers true; otherwise discards it. Never throws.
    bool Keep() noexcept;
    std::uint64_t PacketsWritten() const { return packets_; }

private:
    void CloseFirstCluster();
    [[noreturn]] void Fail(int error);

    LateNamedFile file_;
    int fd_;  // the file's descriptor, for the I/O callbacks
    AVFormatContext* context_ = nullptr;
    mutable std::mutex writing_;
    std::int64_t headerEnd_ = 0;
    bool opens_ = false;  // a cluster, or the trailer, is on the disk
    bool done_ = false;   // finished or kept: the file's fate is settled
    std::atomic<std::uint64_t> packets_{0};
};

}  // namespace Vantor::Lumo::Recorder
