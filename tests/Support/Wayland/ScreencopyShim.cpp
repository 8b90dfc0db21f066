// Loaded into xdg-desktop-portal-wlr by the Wayland test stage only. Its screencopy code waits
// for a DMA-BUF format, which a compositor without a GPU never announces, and so never starts a
// cast. Announcing the shared-memory format once more as a DMA-BUF one lets it go on, and it
// then copies into shared memory as it would anyway.
// While the file named by LUMO_TEST_FREEZE_FILE exists, copies never finish: a cast that
// started and then sends nothing. While LUMO_TEST_FAIL_FILE exists, nothing is added, and the
// backend fails to start casts as it would without the shim.

#include <dlfcn.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>

#include <wayland-client-core.h>

namespace {

// The events of zwlr_screencopy_frame_v1, in protocol order.
struct FrameListener {
    void (*buffer)(void*, wl_proxy*, std::uint32_t, std::uint32_t, std::uint32_t, std::uint32_t);
    void (*flags)(void*, wl_proxy*, std::uint32_t);
    void (*ready)(void*, wl_proxy*, std::uint32_t, std::uint32_t, std::uint32_t);
    void (*failed)(void*, wl_proxy*);
    void (*damage)(void*, wl_proxy*, std::uint32_t, std::uint32_t, std::uint32_t, std::uint32_t);
    void (*linuxDmabuf)(void*, wl_proxy*, std::uint32_t, std::uint32_t, std::uint32_t);
    void (*bufferDone)(void*, wl_proxy*);
};

const FrameListener* original = nullptr;

bool Exists(const char* variable) {
    const char* const path = std::getenv(variable);
    return path && ::access(path, F_OK) == 0;
}

// wl_shm formats are DRM fourccs, except the first two.
std::uint32_t DrmFormat(std::uint32_t shm) {
    constexpr std::uint32_t kArgb8888 = 0x34325241;  // 'AR24'
    constexpr std::uint32_t kXrgb8888 = 0x34325258;  // 'XR24'
    return shm == 0 ? kArgb8888 : shm == 1 ? kXrgb8888 : shm;
}

void OnBuffer(void* data, wl_proxy* frame, std::uint32_t format, std::uint32_t width,
              std::uint32_t height, std::uint32_t stride) {
    original->buffer(data, frame, format, width, height, stride);
    if (!Exists("LUMO_TEST_FAIL_FILE")) {
        original->linuxDmabuf(data, frame, DrmFormat(format), width, height);
    }
}

void OnFlags(void* data, wl_proxy* frame, std::uint32_t flags) {
    original->flags(data, frame, flags);
}

void OnReady(void* data, wl_proxy* frame, std::uint32_t high, std::uint32_t low,
             std::uint32_t nanoseconds) {
    if (Exists("LUMO_TEST_FREEZE_FILE")) {
        return;
    }
    original->ready(data, frame, high, low, nanoseconds);
}
void OnFailed(void* data, wl_proxy* frame) {
    original->failed(data, frame);
}
void OnDamage(void* data, wl_proxy* frame, std::uint32_t x, std::uint32_t y, std::uint32_t width,
              std::uint32_t height) {
    original->damage(data, frame, x, y, width, height);
}
void OnLinuxDmabuf(void* data, wl_proxy* frame, std::uint32_t format, std::uint32_t width,
                   std::uint32_t height) {
    original->linuxDmabuf(data, frame, format, width, height);
}
void OnBufferDone(void* data, wl_proxy* frame) {
    original->bufferDone(data, frame);
}

const FrameListener wrapped{OnBuffer, OnFlags,       OnReady,     OnFailed,
                            OnDamage, OnLinuxDmabuf, OnBufferDone};

}  // namespace

extern "C" __attribute__((visibility("default"))) int wl_proxy_add_listener(
    wl_proxy* proxy, void (**implementation)(void), void* data) {
    using AddListener = int (*)(wl_proxy*, void (**)(void), void*);
    static const auto real =
        reinterpret_cast<AddListener>(dlsym(RTLD_NEXT, "wl_proxy_add_listener"));
    if (std::strcmp(wl_proxy_get_class(proxy), "zwlr_screencopy_frame_v1") == 0) {
        original = reinterpret_cast<const FrameListener*>(implementation);
        implementation = reinterpret_cast<void (**)(void)>(const_cast<FrameListener*>(&wrapped));
    }
    return real(proxy, implementation, data);
}
