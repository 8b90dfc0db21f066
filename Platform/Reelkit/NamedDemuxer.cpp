#include "Platform/Reelkit/NamedDemuxer.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <iterator>
#include <string>
#include <unordered_map>
#include <vector>

extern "C" {
#include <libavformat/avformat.h>
}

namespace Vantor::Proc {

namespace {

using SignatureCheck = bool (*)(const unsigned char* head, std::size_t size);

bool StartsWith(const unsigned char* head, std::size_t size, const char* magic,
                std::size_t offset = 0) {
    const std::size_t length = std::strlen(magic);
    return size >= offset + length && std::memcmp(head + offset, magic, length) == 0;
}

bool IsMatroska(const unsigned char* head, std::size_t size) {
    return StartsWith(head, size, "\x1a\x45\xdf\xa3");  // EBML header element
}

bool IsOgg(const unsigned char* head, std::size_t size) {
    return StartsWith(head, size, "OggS");
}

bool IsNut(const unsigned char* head, std::size_t size) {
    return StartsWith(head, size, "nut/multimedia container");
}

bool IsAvi(const unsigned char* head, std::size_t size) {
    if (StartsWith(head, size, "ON2 ") && StartsWith(head, size, "ON2f", 8)) {
        return true;
    }
    if (!StartsWith(head, size, "RIFF")) {
        return false;
    }
    return StartsWith(head, size, "AVI ", 8) || StartsWith(head, size, "AVIX", 8) ||
           StartsWith(head, size, "AVI\x19", 8) || StartsWith(head, size, "AMV ", 8);
}

// An ISO/QuickTime file is a sequence of boxes; the first one's type sits at offset 4. A file
// that opens with a rarer box is probed, which is slower but still right.
bool IsIsoMedia(const unsigned char* head, std::size_t size) {
    static const char* const kFirstBoxes[] = {"ftyp", "moov", "mdat", "free", "skip",
                                              "wide", "pnot", "moof", "styp", "sidx"};
    return std::any_of(std::begin(kFirstBoxes), std::end(kFirstBoxes),
                       [&](const char* box) { return StartsWith(head, size, box, 4); });
}

struct Known {
    const char* name;
    SignatureCheck signature;
};

// Demuxers that check their container's signature, so that content of another kind fails to
// open with them. Others (tty for ".txt", raw streams, ...) accept any bytes and would hide a
// real container behind a misleading name.
constexpr Known kKnown[] = {{"matroska,webm", &IsMatroska},
                            {"mov,mp4,m4a,3gp,3g2,mj2", &IsIsoMedia},
                            {"avi", &IsAvi},
                            {"ogg", &IsOgg},
                            {"nut", &IsNut}};

SignatureCheck SignatureOf(const AVInputFormat& demuxer) {
    for (const Known& known : kKnown) {
        if (std::strcmp(demuxer.name, known.name) == 0) {
            return known.signature;
        }
    }
    return nullptr;
}

std::string Lowercase(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return text;
}

struct Named {
    const AVInputFormat* demuxer;
    SignatureCheck signature;
};

// The file extensions those demuxers declare, to the first demuxer that declares each.
// Built once: walking FFmpeg's demuxer list per open would cost as much as the open itself.
const std::unordered_map<std::string, Named>& DemuxersByExtension() {
    static const auto table = [] {
        std::unordered_map<std::string, Named> demuxers;
        void* cursor = nullptr;
        while (const AVInputFormat* demuxer = av_demuxer_iterate(&cursor)) {
            const SignatureCheck signature = SignatureOf(*demuxer);
            if (!demuxer->extensions || !signature) {
                continue;
            }
            const std::string list = demuxer->extensions;
            for (std::size_t start = 0; start <= list.size();) {
                std::size_t end = list.find(',', start);
                if (end == std::string::npos) {
                    end = list.size();
                }
                if (end > start) {
                    demuxers.emplace(Lowercase(list.substr(start, end - start)),
                                     Named{demuxer, signature});
                }
                start = end + 1;
            }
        }
        return demuxers;
    }();
    return table;
}

// Every demuxer of kKnown that this FFmpeg has; no two signatures overlap.
const std::vector<Named>& KnownDemuxers() {
    static const auto table = [] {
        std::vector<Named> demuxers;
        void* cursor = nullptr;
        while (const AVInputFormat* demuxer = av_demuxer_iterate(&cursor)) {
            if (const SignatureCheck signature = SignatureOf(*demuxer)) {
                demuxers.push_back(Named{demuxer, signature});
            }
        }
        return demuxers;
    }();
    return table;
}

const Named* Lookup(const ioPath& path) {
    const std::string extension = path.extension().utf8string();
    if (extension.size() < 2) {
        return nullptr;
    }
    const auto& demuxers = DemuxersByExtension();
    const auto found = demuxers.find(Lowercase(extension.substr(1)));
    return found == demuxers.end() ? nullptr : &found->second;
}

}  // namespace

const AVInputFormat* NamedDemuxer(const ioPath& path, const unsigned char* head, std::size_t size) {
    const Named* named = Lookup(path);
    if (named && named->signature(head, size)) {
        return named->demuxer;
    }
    // Misnamed, or named for no container: the signature alone tells which it is.
    for (const Named& known : KnownDemuxers()) {
        if (known.signature(head, size)) {
            return known.demuxer;
        }
    }
    return nullptr;
}

}  // namespace Vantor::Proc
