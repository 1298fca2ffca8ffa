// The native window on X11.  Xlib is loaded when the first window opens, so
// the program starts, and reports that no window can be opened, on machines
// without it.  The window manager's close button arrives as WM_DELETE_WINDOW.
//
// A lost connection to the X server: with libX11 1.7 or later the call
// returns 0 and the process goes on.  Older libraries end the process from
// inside Xlib (their I/O error exit cannot be refused); it does not hang.
#include "vl_platform_window.h"

#include <dlfcn.h>
#include <poll.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace {

// The few Xlib types used here, laid out as libX11.so.6 defines them.
struct Display;
struct XErrorEvent;
using Window = unsigned long;
using Atom = unsigned long;
using Bool = int;

struct XClientMessageEvent {
    int type;
    unsigned long serial;
    Bool send_event;
    Display* display;
    Window window;
    Atom message_type;
    int format;
    union {
        char b[20];
        short s[10];
        long l[5];
    } data;
};

struct XDestroyWindowEvent {
    int type;
    unsigned long serial;
    Bool send_event;
    Display* display;
    Window event;
    Window window;
};

union XEvent {
    int type;
    XClientMessageEvent client;
    XDestroyWindowEvent destroyed;
    long pad[24];
};

constexpr int DestroyNotify = 17;
constexpr int ClientMessage = 33;
constexpr long StructureNotifyMask = 1L << 17;
constexpr int PropModeReplace = 0;
constexpr Atom XA_WM_NAME = 39;
constexpr Bool False = 0;

using ErrorHandler = int (*)(Display*, XErrorEvent*);
using IOErrorHandler = int (*)(Display*);
using IOErrorExitHandler = void (*)(Display*, void*);

// X11 takes sizes as 16-bit numbers; servers keep windows below 32768 pixels.
constexpr int32_t LARGEST_SIDE = 32767;

#define VL_XLIB_CALLS(X)                                                                                            \
    X(Display*, XOpenDisplay, (const char*))                                                                        \
    X(int, XCloseDisplay, (Display*))                                                                               \
    X(int, XDefaultScreen, (Display*))                                                                              \
    X(Window, XRootWindow, (Display*, int))                                                                         \
    X(unsigned long, XBlackPixel, (Display*, int))                                                                  \
    X(unsigned long, XWhitePixel, (Display*, int))                                                                  \
    X(Window, XCreateSimpleWindow,                                                                                  \
      (Display*, Window, int, int, unsigned, unsigned, unsigned, unsigned long, unsigned long))                     \
    X(int, XSelectInput, (Display*, Window, long))                                                                  \
    X(Atom, XInternAtom, (Display*, const char*, Bool))                                                             \
    X(int, XChangeProperty, (Display*, Window, Atom, Atom, int, int, const unsigned char*, int))                    \
    X(int, XSetWMProtocols, (Display*, Window, Atom*, int))                                                         \
    X(int, XMapWindow, (Display*, Window))                                                                          \
    X(int, XSync, (Display*, Bool))                                                                                 \
    X(int, XPending, (Display*))                                                                                    \
    X(int, XNextEvent, (Display*, XEvent*))                                                                         \
    X(int, XDestroyWindow, (Display*, Window))                                                                      \
    X(int, XConnectionNumber, (Display*))                                                                           \
    X(ErrorHandler, XSetErrorHandler, (ErrorHandler))                                                               \
    X(IOErrorHandler, XSetIOErrorHandler, (IOErrorHandler))

struct Xlib {
#define VL_XLIB_MEMBER(result, name, parameters) result(*name) parameters = nullptr;
    VL_XLIB_CALLS(VL_XLIB_MEMBER)
#undef VL_XLIB_MEMBER
    // libX11 1.7 and later: lets a lost connection end our call instead of the process.
    void (*XSetIOErrorExitHandler)(Display*, IOErrorExitHandler, void*) = nullptr;
};

template <typename Function>
bool bind(void* library, Function& function, const char* name) {
    function = reinterpret_cast<Function>(dlsym(library, name));
    return function != nullptr;
}

// Null when libX11 is missing or lacks a call; loaded once, kept for the process.
const Xlib* xlib() {
    static const Xlib* const loaded = []() -> const Xlib* {
        static Xlib calls;
        void* library = dlopen("libX11.so.6", RTLD_NOW | RTLD_LOCAL);
        if (!library) return nullptr;
#define VL_XLIB_BIND(result, name, parameters) &&bind(library, calls.name, #name)
        bool complete = true VL_XLIB_CALLS(VL_XLIB_BIND);
#undef VL_XLIB_BIND
        if (!complete) {
            dlclose(library);
            return nullptr;
        }
        bind(library, calls.XSetIOErrorExitHandler, "XSetIOErrorExitHandler");
        return &calls;
    }();
    return loaded;
}

// What Xlib's handlers report during one call.  Xlib's handlers are process
// wide and the system is single-threaded, so plain flags serve.
bool request_failed = false;
bool connection_lost = false;

int note_request_error(Display*, XErrorEvent*) {
    request_failed = true;
    return 0;
}

int note_lost_connection(Display*) {
    connection_lost = true;
    return 0;
}

void keep_process(Display*, void*) {}

// Installs silent handlers for one display's life and restores the previous
// ones afterwards: the library prints nothing, and a protocol error must not
// end the process.
class Handlers {
public:
    Handlers(const Xlib& x, Display* display) : x_(x) {
        request_failed = connection_lost = false;
        previous_error_ = x_.XSetErrorHandler(note_request_error);
        if (x_.XSetIOErrorExitHandler) {
            x_.XSetIOErrorExitHandler(display, keep_process, nullptr);
            previous_io_error_ = x_.XSetIOErrorHandler(note_lost_connection);
        }
    }
    Handlers(const Handlers&) = delete;
    Handlers& operator=(const Handlers&) = delete;
    ~Handlers() {
        x_.XSetErrorHandler(previous_error_);
        if (x_.XSetIOErrorExitHandler) x_.XSetIOErrorHandler(previous_io_error_);
    }

private:
    const Xlib& x_;
    ErrorHandler previous_error_ = nullptr;
    IOErrorHandler previous_io_error_ = nullptr;
};

enum class Outcome { Closed, Gone, Failed };

// Handles events until the window manager asks to close the window, another
// client destroys it, or the connection fails.
Outcome wait_for_close(const Xlib& x, Display* display, Window window, Atom delete_window) {
    Atom protocols = x.XInternAtom(display, "WM_PROTOCOLS", False);
    pollfd connection{x.XConnectionNumber(display), POLLIN, 0};
    for (;;) {
        while (!connection_lost && x.XPending(display) > 0) {
            XEvent event;
            x.XNextEvent(display, &event);
            if (event.type == ClientMessage && event.client.window == window &&
                event.client.message_type == protocols && event.client.format == 32 &&
                static_cast<Atom>(event.client.data.l[0]) == delete_window)
                return Outcome::Closed;
            if (event.type == DestroyNotify && event.destroyed.window == window) return Outcome::Gone;
        }
        // XPending reads nothing more once the connection is lost.
        if (connection_lost) return Outcome::Failed;
        if (poll(&connection, 1, -1) < 0 && errno != EINTR) return Outcome::Failed;
    }
}

void set_title(const Xlib& x, Display* display, Window window, const char* title) {
    Atom utf8 = x.XInternAtom(display, "UTF8_STRING", False);
    Atom net_wm_name = x.XInternAtom(display, "_NET_WM_NAME", False);
    auto bytes = reinterpret_cast<const unsigned char*>(title);
    int length = static_cast<int>(std::strlen(title));
    x.XChangeProperty(display, window, net_wm_name, utf8, 8, PropModeReplace, bytes, length);
    x.XChangeProperty(display, window, XA_WM_NAME, utf8, 8, PropModeReplace, bytes, length);
}

}  // namespace

int32_t vl_platform_window_run(const char* title, int32_t width, int32_t height) {
    const Xlib* x = xlib();
    if (!x) return 0;
    Display* display = x->XOpenDisplay(nullptr);
    if (!display) return 0;
    int32_t result = 0;
    {
        Handlers handlers(*x, display);
        int screen = x->XDefaultScreen(display);
        Window window = x->XCreateSimpleWindow(
            display, x->XRootWindow(display, screen), 0, 0, static_cast<unsigned>(std::clamp(width, 1, LARGEST_SIDE)),
            static_cast<unsigned>(std::clamp(height, 1, LARGEST_SIDE)), 0, x->XBlackPixel(display, screen),
            x->XWhitePixel(display, screen));
        x->XSelectInput(display, window, StructureNotifyMask);
        set_title(*x, display, window, title);
        Atom delete_window = x->XInternAtom(display, "WM_DELETE_WINDOW", False);
        x->XSetWMProtocols(display, window, &delete_window, 1);
        x->XMapWindow(display, window);
        x->XSync(display, False);  // reports a refused window now, not later

        Outcome outcome = request_failed || connection_lost ? Outcome::Failed
                                                            : wait_for_close(*x, display, window, delete_window);
        if (outcome == Outcome::Closed) x->XDestroyWindow(display, window);
        if (outcome != Outcome::Failed) result = 1;
        x->XCloseDisplay(display);  // with a lost connection this only frees what Xlib holds
    }
    return result;
}
