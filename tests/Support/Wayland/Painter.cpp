// A Wayland client for the test stage: one full-screen window that it repaints 30 times a second
// in the colour written in a file ("#rrggbb"), read anew before every picture. A compositor
// sends the screen cast a frame only when something was drawn, so a still colour must be drawn
// again and again. With --stripe a white stripe also moves one step every picture, so that
// every frame differs. The count of pictures painted so far is kept in COLOUR_FILE.count.
// Usage: lumo-test-painter COLOUR_FILE [--stripe]

#include <fcntl.h>
#include <poll.h>
#include <sys/mman.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>

#include <wayland-client.h>

#include "xdg-shell-client-protocol.h"

namespace {

struct Painter {
    wl_compositor* compositor = nullptr;
    wl_shm* shm = nullptr;
    xdg_wm_base* shell = nullptr;
    int width = 0;
    int height = 0;
    bool configured = false;
    bool closed = false;
};

void OnGlobal(void* data, wl_registry* registry, std::uint32_t name, const char* interface,
              std::uint32_t) {
    auto* painter = static_cast<Painter*>(data);
    if (std::strcmp(interface, wl_compositor_interface.name) == 0) {
        painter->compositor = static_cast<wl_compositor*>(
            wl_registry_bind(registry, name, &wl_compositor_interface, 4));
    } else if (std::strcmp(interface, wl_shm_interface.name) == 0) {
        painter->shm = static_cast<wl_shm*>(wl_registry_bind(registry, name, &wl_shm_interface, 1));
    } else if (std::strcmp(interface, xdg_wm_base_interface.name) == 0) {
        painter->shell =
            static_cast<xdg_wm_base*>(wl_registry_bind(registry, name, &xdg_wm_base_interface, 1));
    }
}
void OnGlobalRemove(void*, wl_registry*, std::uint32_t) {}
const wl_registry_listener kRegistry{OnGlobal, OnGlobalRemove};

void OnPing(void*, xdg_wm_base* shell, std::uint32_t serial) {
    xdg_wm_base_pong(shell, serial);
}
const xdg_wm_base_listener kShell{OnPing};

void OnSurfaceConfigure(void* data, xdg_surface* surface, std::uint32_t serial) {
    xdg_surface_ack_configure(surface, serial);
    static_cast<Painter*>(data)->configured = true;
}
const xdg_surface_listener kSurface{OnSurfaceConfigure};

void OnToplevelConfigure(void* data, xdg_toplevel*, std::int32_t width, std::int32_t height,
                         wl_array*) {
    auto* painter = static_cast<Painter*>(data);
    if (width > 0 && height > 0) {
        painter->width = width;
        painter->height = height;
    }
}
void OnClose(void* data, xdg_toplevel*) {
    static_cast<Painter*>(data)->closed = true;
}
void OnBounds(void*, xdg_toplevel*, std::int32_t, std::int32_t) {}
void OnCapabilities(void*, xdg_toplevel*, wl_array*) {}
const xdg_toplevel_listener kToplevel{OnToplevelConfigure, OnClose, OnBounds, OnCapabilities};

std::uint32_t ReadColour(const std::string& path, std::uint32_t last) {
    std::ifstream file(path);
    std::string text;
    file >> text;
    if (text.size() != 7 || text[0] != '#') {
        return last;
    }
    return 0xff000000u | static_cast<std::uint32_t>(std::strtoul(text.c_str() + 1, nullptr, 16));
}

// A shared-memory buffer of the window's size, XRGB8888.
struct Picture {
    wl_buffer* buffer = nullptr;
    std::uint32_t* pixels = nullptr;
    int width = 0;
    int height = 0;
};

Picture NewPicture(wl_shm* shm, int width, int height) {
    const int stride = width * 4;
    const std::size_t size = static_cast<std::size_t>(stride) * height;
    const int fd = memfd_create("lumo-test-painter", MFD_CLOEXEC);
    if (fd < 0 || ftruncate(fd, static_cast<off_t>(size)) != 0) {
        std::perror("lumo-test-painter: memfd");
        std::exit(1);
    }
    void* pixels = mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
    wl_shm_pool* pool = wl_shm_create_pool(shm, fd, static_cast<std::int32_t>(size));
    wl_buffer* buffer =
        wl_shm_pool_create_buffer(pool, 0, width, height, stride, WL_SHM_FORMAT_XRGB8888);
    wl_shm_pool_destroy(pool);
    close(fd);
    return {buffer, static_cast<std::uint32_t*>(pixels), width, height};
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: lumo-test-painter COLOUR_FILE [--stripe]\n");
        return 2;
    }
    const std::string colourFile = argv[1];
    const bool stripe = argc > 2 && std::strcmp(argv[2], "--stripe") == 0;
    wl_display* display = wl_display_connect(nullptr);
    if (!display) {
        std::fprintf(stderr, "lumo-test-painter: no Wayland display\n");
        return 1;
    }
    Painter painter;
    wl_registry_add_listener(wl_display_get_registry(display), &kRegistry, &painter);
    wl_display_roundtrip(display);
    if (!painter.compositor || !painter.shm || !painter.shell) {
        std::fprintf(stderr, "lumo-test-painter: the compositor lacks xdg-shell or wl_shm\n");
        return 1;
    }
    xdg_wm_base_add_listener(painter.shell, &kShell, nullptr);
    wl_surface* surface = wl_compositor_create_surface(painter.compositor);
    xdg_surface* shellSurface = xdg_wm_base_get_xdg_surface(painter.shell, surface);
    xdg_surface_add_listener(shellSurface, &kSurface, &painter);
    xdg_toplevel* toplevel = xdg_surface_get_toplevel(shellSurface);
    xdg_toplevel_add_listener(toplevel, &kToplevel, &painter);
    xdg_toplevel_set_title(toplevel, "lumo-test-painter");
    xdg_toplevel_set_fullscreen(toplevel, nullptr);
    wl_surface_commit(surface);
    while (!painter.configured && wl_display_dispatch(display) >= 0) {
    }

    const int counter = open((colourFile + ".count").c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
    Picture pictures[2];
    auto due = std::chrono::steady_clock::now();
    std::uint32_t colour = 0xff000000u;
    for (std::uint64_t count = 0; !painter.closed; ++count) {
        Picture& picture = pictures[count % 2];
        const int width = painter.width > 0 ? painter.width : 1280;
        const int height = painter.height > 0 ? painter.height : 720;
        if (picture.width != width || picture.height != height) {
            if (picture.buffer) {
                wl_buffer_destroy(picture.buffer);
                munmap(picture.pixels,
                       static_cast<std::size_t>(picture.width) * picture.height * 4);
            }
            picture = NewPicture(painter.shm, width, height);
        }
        colour = ReadColour(colourFile, colour);
        const std::size_t all = static_cast<std::size_t>(width) * height;
        for (std::size_t i = 0; i < all; ++i) {
            picture.pixels[i] = colour;
        }
        if (stripe) {
            const int x = static_cast<int>(count * 8 % static_cast<std::uint64_t>(width));
            for (int y = 0; y < height; ++y) {
                for (int dx = 0; dx < 8 && x + dx < width; ++dx) {
                    picture.pixels[static_cast<std::size_t>(y) * width + x + dx] = 0xffffffffu;
                }
            }
        }
        wl_surface_attach(surface, picture.buffer, 0, 0);
        wl_surface_damage_buffer(surface, 0, 0, width, height);
        wl_surface_commit(surface);
        if (wl_display_flush(display) < 0) {
            break;
        }
        const std::string painted = std::to_string(count + 1) + "\n";
        if (counter >= 0 && pwrite(counter, painted.data(), painted.size(), 0) < 0) {
            std::perror("lumo-test-painter: count");
        }
        // 30 pictures a second on a fixed schedule; events are handled meanwhile.
        due += std::chrono::microseconds(1'000'000 / 30);
        for (auto now = std::chrono::steady_clock::now(); now < due;
             now = std::chrono::steady_clock::now()) {
            const auto left =
                std::chrono::duration_cast<std::chrono::milliseconds>(due - now).count() + 1;
            pollfd ready{wl_display_get_fd(display), POLLIN, 0};
            if (poll(&ready, 1, static_cast<int>(left)) > 0 && wl_display_dispatch(display) < 0) {
                painter.closed = true;
                break;
            }
        }
        wl_display_dispatch_pending(display);
    }
    wl_display_disconnect(display);
    return 0;
}
