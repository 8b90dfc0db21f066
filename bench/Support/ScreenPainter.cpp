// lumo-bench-painter
//
// Repaints the root window of $DISPLAY about 30 times a second until it is killed: a grid of
// tiles whose colours shift every frame and a bar sweeping across, so that every captured
// frame differs from the last and the encoder has real work. Cheap for the X server, and the
// same load whoever records the screen.

#include <X11/Xlib.h>
#include <time.h>

#include <cstdio>

namespace {

constexpr int kTile = 80;
constexpr long kFrameNanoseconds = 1000000000L / 30;

unsigned long Rgb(int red, int green, int blue) {
    return (static_cast<unsigned long>(red & 0xff) << 16) |
           (static_cast<unsigned long>(green & 0xff) << 8) |
           static_cast<unsigned long>(blue & 0xff);
}

}  // namespace

int main() {
    Display* display = XOpenDisplay(nullptr);
    if (!display) {
        std::fprintf(stderr, "lumo-bench-painter: cannot open the display\n");
        return 1;
    }
    const int screen = DefaultScreen(display);
    const Window root = RootWindow(display, screen);
    const int width = DisplayWidth(display, screen);
    const int height = DisplayHeight(display, screen);
    GC gc = XCreateGC(display, root, 0, nullptr);

    timespec next{};
    clock_gettime(CLOCK_MONOTONIC, &next);
    for (long frame = 0;; ++frame) {
        for (int y = 0; y < height; y += kTile) {
            for (int x = 0; x < width; x += kTile) {
                const int step = static_cast<int>(frame) * 3;
                XSetForeground(display, gc,
                               Rgb(x / 5 + step, y / 3 + step * 2, (x + y) / 7 - step));
                XFillRectangle(display, root, gc, x, y, kTile, kTile);
            }
        }
        XSetForeground(display, gc, Rgb(255, 255, 255));
        XFillRectangle(display, root, gc, static_cast<int>(frame * 16 % width), 0, 24, height);
        XSync(display, False);

        next.tv_nsec += kFrameNanoseconds;
        if (next.tv_nsec >= 1000000000L) {
            next.tv_nsec -= 1000000000L;
            ++next.tv_sec;
        }
        clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &next, nullptr);
    }
}
