#include "Recorder/Sources/Wayland/PipeWireStream.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>

#include <glog/logging.h>
#include <pipewire/pipewire.h>
#include <spa/param/video/format-utils.h>
#include <spa/pod/builder.h>

namespace Vantor::Lumo::Recorder {

namespace {

AVPixelFormat ToFfmpeg(spa_video_format format) {
    switch (format) {
        case SPA_VIDEO_FORMAT_BGRx:
            return AV_PIX_FMT_BGR0;
        case SPA_VIDEO_FORMAT_RGBx:
            return AV_PIX_FMT_RGB0;
        case SPA_VIDEO_FORMAT_xRGB:
            return AV_PIX_FMT_0RGB;
        case SPA_VIDEO_FORMAT_xBGR:
            return AV_PIX_FMT_0BGR;
        case SPA_VIDEO_FORMAT_BGRA:
            return AV_PIX_FMT_BGRA;
        case SPA_VIDEO_FORMAT_RGBA:
            return AV_PIX_FMT_RGBA;
        default:
            return AV_PIX_FMT_NONE;
    }
}

// What we take: raw video in the orders portals send, of any size and rate.
const spa_pod* FormatsWanted(spa_pod_builder& builder) {
    const spa_rectangle smallest{1, 1};
    const spa_rectangle usual{1920, 1080};
    const spa_rectangle largest{16384, 16384};
    const spa_fraction none{0, 1};
    const spa_fraction usualRate{30, 1};
    const spa_fraction fastest{1000, 1};
    return static_cast<const spa_pod*>(spa_pod_builder_add_object(
        &builder, SPA_TYPE_OBJECT_Format, SPA_PARAM_EnumFormat, SPA_FORMAT_mediaType,
        SPA_POD_Id(SPA_MEDIA_TYPE_video), SPA_FORMAT_mediaSubtype,
        SPA_POD_Id(SPA_MEDIA_SUBTYPE_raw), SPA_FORMAT_VIDEO_format,
        SPA_POD_CHOICE_ENUM_Id(7, SPA_VIDEO_FORMAT_BGRx, SPA_VIDEO_FORMAT_BGRx,
                               SPA_VIDEO_FORMAT_RGBx, SPA_VIDEO_FORMAT_xRGB, SPA_VIDEO_FORMAT_xBGR,
                               SPA_VIDEO_FORMAT_BGRA, SPA_VIDEO_FORMAT_RGBA),
        SPA_FORMAT_VIDEO_size, SPA_POD_CHOICE_RANGE_Rectangle(&usual, &smallest, &largest),
        SPA_FORMAT_VIDEO_framerate, SPA_POD_CHOICE_RANGE_Fraction(&usualRate, &none, &fastest)));
}

}  // namespace

struct PipeWireStream::Loop {
    PipeWireStream* owner = nullptr;
    OnPicture onPicture;
    pw_thread_loop* thread = nullptr;
    pw_context* context = nullptr;
    pw_core* core = nullptr;
    pw_stream* stream = nullptr;
    pw_registry* registry = nullptr;
    std::uint32_t node = 0;
    spa_hook coreListener{};
    spa_hook registryListener{};
    spa_hook streamListener{};
    spa_video_info_raw format{};
    bool began = false;
    mutable std::mutex mutex;
    std::string failure;

    // Stops the thread first, so that no callback runs while the rest goes.
    ~Loop() {
        if (thread) {
            pw_thread_loop_stop(thread);
        }
        if (stream) {
            pw_stream_destroy(stream);
        }
        if (registry) {
            pw_proxy_destroy(reinterpret_cast<pw_proxy*>(registry));
        }
        if (core) {
            pw_core_disconnect(core);
        }
        if (context) {
            pw_context_destroy(context);
        }
        if (thread) {
            pw_thread_loop_destroy(thread);
        }
    }

    void Fail(const std::string& why) {
        {
            const std::lock_guard<std::mutex> lock(mutex);
            if (failure.empty()) {
                failure = why;
            }
        }
        owner->gone_ = true;
    }

    static void OnStateChanged(void* data, pw_stream_state, pw_stream_state state,
                               const char* error) {
        auto* loop = static_cast<Loop*>(data);
        VLOG(1) << "lumo: the screen cast's PipeWire stream is "
                << pw_stream_state_as_string(state);
        if (state == PW_STREAM_STATE_STREAMING || state == PW_STREAM_STATE_PAUSED) {
            loop->began = true;
        } else if (state == PW_STREAM_STATE_ERROR) {
            loop->Fail(std::string("the screen cast's PipeWire stream failed: ") +
                       (error ? error : "no reason given"));
        } else if (state == PW_STREAM_STATE_UNCONNECTED && loop->began) {
            loop->Fail("the screen cast's PipeWire stream went away");
        }
    }

    static void OnParamChanged(void* data, std::uint32_t id, const spa_pod* param) {
        auto* loop = static_cast<Loop*>(data);
        if (!param || id != SPA_PARAM_Format) {
            return;
        }
        spa_video_info_raw format{};
        std::uint32_t mediaType = 0;
        std::uint32_t subtype = 0;
        if (spa_format_parse(param, &mediaType, &subtype) < 0 ||
            mediaType != SPA_MEDIA_TYPE_video || subtype != SPA_MEDIA_SUBTYPE_raw ||
            spa_format_video_raw_parse(param, &format) < 0) {
            return;
        }
        loop->format = format;
        VLOG(1) << "lumo: the screen cast sends " << format.size.width << "x" << format.size.height
                << " in format " << format.format;
        // Shared memory, or a DMA-BUF that can be mapped; and each buffer's timestamp.
        std::uint8_t room[1024];
        spa_pod_builder builder = SPA_POD_BUILDER_INIT(room, sizeof room);
        const spa_pod* params[2];
        params[0] = static_cast<const spa_pod*>(spa_pod_builder_add_object(
            &builder, SPA_TYPE_OBJECT_ParamBuffers, SPA_PARAM_Buffers, SPA_PARAM_BUFFERS_dataType,
            SPA_POD_CHOICE_FLAGS_Int((1 << SPA_DATA_MemFd) | (1 << SPA_DATA_MemPtr) |
                                     (1 << SPA_DATA_DmaBuf))));
        params[1] = static_cast<const spa_pod*>(
            spa_pod_builder_add_object(&builder, SPA_TYPE_OBJECT_ParamMeta, SPA_PARAM_Meta,
                                       SPA_PARAM_META_type, SPA_POD_Id(SPA_META_Header),
                                       SPA_PARAM_META_size, SPA_POD_Int(sizeof(spa_meta_header))));
        pw_stream_update_params(loop->stream, params, 2);
    }

    static void OnProcess(void* data) {
        auto* loop = static_cast<Loop*>(data);
        // Only the newest picture counts; older ones queued behind it go back at once.
        pw_buffer* newest = nullptr;
        while (pw_buffer* buffer = pw_stream_dequeue_buffer(loop->stream)) {
            if (newest) {
                pw_stream_queue_buffer(loop->stream, newest);
            }
            newest = buffer;
        }
        if (!newest) {
            return;
        }
        const spa_buffer* buffer = newest->buffer;
        const spa_data& plane = buffer->datas[0];
        const AVPixelFormat format = ToFfmpeg(loop->format.format);
        if (plane.chunk->size == 0 || format == AV_PIX_FMT_NONE) {
            // A buffer with only metadata (the cursor moved), or nothing negotiated yet.
        } else if (!plane.data) {
            loop->Fail(plane.type == SPA_DATA_DmaBuf
                           ? "the desktop sends the screen as DMA-BUF that can not be mapped; "
                             "lumo can record shared-memory screen casts only"
                           : "the desktop sends the screen in memory lumo can not read");
        } else {
            StreamPicture picture;
            picture.pixels = static_cast<const std::uint8_t*>(plane.data) + plane.chunk->offset;
            picture.width = static_cast<int>(loop->format.size.width);
            picture.height = static_cast<int>(loop->format.size.height);
            picture.stride = plane.chunk->stride > 0 ? plane.chunk->stride : picture.width * 4;
            picture.format = format;
            if (const auto* header = static_cast<const spa_meta_header*>(
                    spa_buffer_find_meta_data(buffer, SPA_META_Header, sizeof(spa_meta_header)))) {
                picture.monotonicNs = header->pts > 0 ? header->pts : -1;
            }
            if (static_cast<std::int64_t>(picture.stride) * picture.height <= plane.chunk->size ||
                static_cast<std::int64_t>(picture.stride) * (picture.height - 1) +
                        picture.width * 4 <=
                    plane.chunk->size) {
                loop->onPicture(picture);
            }
        }
        pw_stream_queue_buffer(loop->stream, newest);
    }

    // A producer that goes away only pauses the stream; its node leaving says it plainly.
    static void OnGlobalRemoved(void* data, std::uint32_t id) {
        auto* loop = static_cast<Loop*>(data);
        if (id == loop->node) {
            loop->Fail("the screen cast's PipeWire stream went away");
        }
    }

    static void OnCoreError(void* data, std::uint32_t id, int, int res, const char* message) {
        auto* loop = static_cast<Loop*>(data);
        if (id == PW_ID_CORE) {
            loop->Fail(std::string("the screen cast's PipeWire connection failed: ") +
                       (message ? message : std::strerror(-res)));
        }
    }
};

PipeWireStream::PipeWireStream(int fd, std::uint32_t node, OnPicture onPicture)
    : loop_(std::make_unique<Loop>()) {
    pw_init(nullptr, nullptr);
    Loop& loop = *loop_;
    loop.owner = this;
    loop.onPicture = std::move(onPicture);
    loop.thread = pw_thread_loop_new("lumo-screencast", nullptr);
    if (!loop.thread) {
        throw std::runtime_error("can not start PipeWire's thread");
    }
    loop.context = pw_context_new(pw_thread_loop_get_loop(loop.thread), nullptr, 0);
    if (!loop.context || pw_thread_loop_start(loop.thread) < 0) {
        throw std::runtime_error("can not set up PipeWire");
    }
    static const pw_core_events coreEvents = [] {
        pw_core_events events{};
        events.version = PW_VERSION_CORE_EVENTS;
        events.error = Loop::OnCoreError;
        return events;
    }();
    static const pw_registry_events registryEvents = [] {
        pw_registry_events events{};
        events.version = PW_VERSION_REGISTRY_EVENTS;
        events.global_remove = Loop::OnGlobalRemoved;
        return events;
    }();
    static const pw_stream_events streamEvents = [] {
        pw_stream_events events{};
        events.version = PW_VERSION_STREAM_EVENTS;
        events.state_changed = Loop::OnStateChanged;
        events.param_changed = Loop::OnParamChanged;
        events.process = Loop::OnProcess;
        return events;
    }();

    pw_thread_loop_lock(loop.thread);
    const int own = ::fcntl(fd, F_DUPFD_CLOEXEC, 3);
    loop.core = own >= 0 ? pw_context_connect_fd(loop.context, own, nullptr, 0) : nullptr;
    std::string failure;
    if (!loop.core) {
        failure =
            std::string("can not connect to the screen cast's PipeWire: ") + std::strerror(errno);
    } else {
        pw_core_add_listener(loop.core, &loop.coreListener, &coreEvents, &loop);
        loop.node = node;
        loop.registry = pw_core_get_registry(loop.core, PW_VERSION_REGISTRY, 0);
        if (loop.registry) {
            pw_registry_add_listener(loop.registry, &loop.registryListener, &registryEvents, &loop);
        }
        loop.stream =
            pw_stream_new(loop.core, "lumo",
                          pw_properties_new(PW_KEY_MEDIA_TYPE, "Video", PW_KEY_MEDIA_CATEGORY,
                                            "Capture", PW_KEY_MEDIA_ROLE, "Screen", nullptr));
        if (!loop.stream) {
            failure = "can not make a PipeWire stream";
        } else {
            pw_stream_add_listener(loop.stream, &loop.streamListener, &streamEvents, &loop);
            std::uint8_t room[1024];
            spa_pod_builder builder = SPA_POD_BUILDER_INIT(room, sizeof room);
            const spa_pod* params[1] = {FormatsWanted(builder)};
            const int result =
                pw_stream_connect(loop.stream, PW_DIRECTION_INPUT, node,
                                  static_cast<pw_stream_flags>(PW_STREAM_FLAG_AUTOCONNECT |
                                                               PW_STREAM_FLAG_MAP_BUFFERS),
                                  params, 1);
            if (result < 0) {
                failure = std::string("can not connect to the screen cast's PipeWire node: ") +
                          std::strerror(-result);
            }
        }
    }
    pw_thread_loop_unlock(loop.thread);
    if (!failure.empty()) {
        throw std::runtime_error(failure);
    }
}

PipeWireStream::~PipeWireStream() = default;

std::string PipeWireStream::Failure() const {
    const std::lock_guard<std::mutex> lock(loop_->mutex);
    return loop_->failure;
}

}  // namespace Vantor::Lumo::Recorder
