// A headless implementation of the Win32 windowing calls that the runtime
// library uses, for systems without Win32.  Windows are records with a class
// and a title; each thread has a message queue with posted messages, a quit
// flag and timers.  Window procedures and timer callbacks always run on the
// calling thread, outside the lock, so they may call back into this layer.
#include "vl_platform_window.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

struct WindowClass {
    std::u16string name;  // as registered; lookups fold ASCII case
    ATOM atom;
    WNDPROC procedure;
};

struct Window {
    std::u16string class_key;
    std::u16string title;
    WNDPROC procedure;
    std::thread::id owner;
    bool destroying;
};

struct Timer {
    HWND window;
    UINT_PTR id;
    TIMERPROC callback;
    Clock::duration period;
    Clock::time_point due;
};

struct Queue {
    std::deque<MSG> posted;
    bool quit = false;
    int quit_code = 0;
    bool fail_next_get = false;
    std::vector<Timer> timers;
    std::condition_variable wake;
};

struct State {
    std::mutex lock;  // guards everything below
    std::map<std::u16string, WindowClass> classes;
    std::map<HWND, Window> windows;  // in creation order: handles only grow
    std::map<std::thread::id, Queue> queues;
    uintptr_t last_handle = 0x10000;
    ATOM last_atom = 0xC000;
    UINT_PTR last_thread_timer = 0x7000;
};

// Lives for the whole process: thread exits may still reach it at shutdown.
State& state() {
    static State* shared = new State;
    return *shared;
}

thread_local DWORD last_error = 0;

// Windows die with the thread that owns them, and so does its queue.
struct ThreadExit {
    ~ThreadExit() {
        State& s = state();
        std::lock_guard<std::mutex> guard(s.lock);
        std::thread::id self = std::this_thread::get_id();
        std::erase_if(s.windows, [&](const auto& entry) { return entry.second.owner == self; });
        s.queues.erase(self);
    }
};
thread_local ThreadExit thread_exit;

Queue& queue_of(State& s, std::thread::id thread) { return s.queues[thread]; }

Queue& own_queue(State& s) {
    (void)&thread_exit;  // odr-use: makes sure the thread's clean-up is registered
    return queue_of(s, std::this_thread::get_id());
}

std::u16string class_key(LPCWSTR name) {
    std::u16string key;
    for (; *name; name++) key += (*name >= u'A' && *name <= u'Z') ? static_cast<char16_t>(*name + 32) : *name;
    return key;
}

const WindowClass* find_class(State& s, LPCWSTR name) {
    uintptr_t value = reinterpret_cast<uintptr_t>(name);
    if (value <= 0xFFFF) {  // an atom in place of a name
        for (const auto& entry : s.classes)
            if (entry.second.atom == value) return &entry.second;
        return nullptr;
    }
    auto found = s.classes.find(class_key(name));
    return found == s.classes.end() ? nullptr : &found->second;
}

Window* find_window(State& s, HWND window) {
    auto found = s.windows.find(window);
    return found == s.windows.end() ? nullptr : &found->second;
}

DWORD tick_count() {
    auto since = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now().time_since_epoch());
    return static_cast<DWORD>(since.count());
}

bool message_matches(const MSG& message, HWND window, UINT first, UINT last) {
    if (window == reinterpret_cast<HWND>(-1)) {
        if (message.hwnd) return false;
    } else if (window && message.hwnd != window) {
        return false;
    }
    return (first == 0 && last == 0) || (message.message >= first && message.message <= last);
}

enum class Take { NONE, MESSAGE, QUIT };

// The next message for the filter, in the system's order: posted messages,
// then the quit message (whatever the filter), then due timers.
Take take_message(Queue& queue, MSG* out, HWND window, UINT first, UINT last, bool remove, Clock::time_point* next_due) {
    for (auto it = queue.posted.begin(); it != queue.posted.end(); ++it) {
        if (!message_matches(*it, window, first, last)) continue;
        *out = *it;
        if (remove) queue.posted.erase(it);
        return out->message == WM_QUIT ? Take::QUIT : Take::MESSAGE;
    }
    if (queue.quit) {
        *out = MSG{nullptr, WM_QUIT, static_cast<WPARAM>(queue.quit_code), 0, tick_count(), {0, 0}};
        if (remove) queue.quit = false;
        return Take::QUIT;
    }
    Clock::time_point now = Clock::now();
    Timer* earliest = nullptr;
    for (Timer& timer : queue.timers) {
        MSG probe{timer.window, WM_TIMER, timer.id, 0, 0, {0, 0}};
        if (message_matches(probe, window, first, last) && (!earliest || timer.due < earliest->due)) earliest = &timer;
    }
    if (!earliest) return Take::NONE;
    if (earliest->due > now) {
        *next_due = earliest->due;
        return Take::NONE;
    }
    *out = MSG{earliest->window, WM_TIMER, earliest->id, reinterpret_cast<LPARAM>(earliest->callback), tick_count(),
               {0, 0}};
    if (remove) earliest->due = now + earliest->period;
    return Take::MESSAGE;
}

// Removes a destroyed window's traces from its thread's queue.
void forget_window(State& s, HWND window, std::thread::id owner) {
    Queue& queue = queue_of(s, owner);
    std::erase_if(queue.posted, [&](const MSG& message) { return message.hwnd == window; });
    std::erase_if(queue.timers, [&](const Timer& timer) { return timer.window == window; });
    s.windows.erase(window);
}

}  // namespace

DWORD GetLastError() { return last_error; }

void SetLastError(DWORD code) { last_error = code; }

HMODULE GetModuleHandleA(LPCSTR name) {
    static char module;  // the program's own module; no others are known
    if (name) {
        SetLastError(126);  // ERROR_MOD_NOT_FOUND
        return nullptr;
    }
    return reinterpret_cast<HMODULE>(&module);
}

int MultiByteToWideChar(UINT code_page, DWORD flags, LPCSTR source, int source_length, LPWSTR target,
                        int target_units) {
    if (code_page != CP_UTF8 || flags != 0 || !source || source_length == 0 || source_length < -1 ||
        target_units < 0 || (target_units > 0 && !target)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    size_t length = source_length == -1 ? std::strlen(source) + 1 : static_cast<size_t>(source_length);
    const auto* bytes = reinterpret_cast<const unsigned char*>(source);
    size_t produced = 0;
    auto put = [&](char16_t unit) {
        if (static_cast<int>(produced) < target_units) target[produced] = unit;
        produced++;
    };
    for (size_t i = 0; i < length;) {
        unsigned char lead = bytes[i];
        uint32_t code = lead;
        int more = 0;
        unsigned char low = 0x80, high = 0xBF;  // allowed range of the second byte
        if (lead >= 0xC2 && lead <= 0xDF) {
            code = lead & 0x1F, more = 1;
        } else if (lead >= 0xE0 && lead <= 0xEF) {
            code = lead & 0x0F, more = 2;
            if (lead == 0xE0) low = 0xA0;
            if (lead == 0xED) high = 0x9F;  // no surrogates
        } else if (lead >= 0xF0 && lead <= 0xF4) {
            code = lead & 0x07, more = 3;
            if (lead == 0xF0) low = 0x90;
            if (lead == 0xF4) high = 0x8F;
        } else if (lead >= 0x80) {
            put(0xFFFD);
            i++;
            continue;
        }
        i++;
        // A broken sequence yields one U+FFFD for its longest valid start.
        bool complete = true;
        for (int k = 0; k < more; k++, i++) {
            unsigned char next = i < length ? bytes[i] : 0;
            if (i >= length || next < low || next > high) {
                complete = false;
                break;
            }
            code = (code << 6) | (next & 0x3F);
            low = 0x80, high = 0xBF;
        }
        if (!complete) {
            put(0xFFFD);
        } else if (code >= 0x10000) {
            put(static_cast<char16_t>(0xD800 + ((code - 0x10000) >> 10)));
            put(static_cast<char16_t>(0xDC00 + ((code - 0x10000) & 0x3FF)));
        } else {
            put(static_cast<char16_t>(code));
        }
    }
    if (target_units > 0 && produced > static_cast<size_t>(target_units)) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return 0;
    }
    return static_cast<int>(produced);
}

ATOM RegisterClassW(const WNDCLASSW* window_class) {
    if (!window_class || !window_class->lpszClassName || !window_class->lpfnWndProc) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    State& s = state();
    std::lock_guard<std::mutex> guard(s.lock);
    std::u16string key = class_key(window_class->lpszClassName);
    if (s.classes.count(key)) {
        SetLastError(ERROR_CLASS_ALREADY_EXISTS);
        return 0;
    }
    ATOM atom = ++s.last_atom;
    s.classes.emplace(key, WindowClass{window_class->lpszClassName, atom, window_class->lpfnWndProc});
    return atom;
}

HWND CreateWindowExW(DWORD, LPCWSTR class_name, LPCWSTR title, DWORD, int, int, int, int, HWND, HMENU, HINSTANCE,
                     LPVOID) {
    State& s = state();
    std::lock_guard<std::mutex> guard(s.lock);
    const WindowClass* window_class = class_name ? find_class(s, class_name) : nullptr;
    if (!window_class) {
        SetLastError(ERROR_CANNOT_FIND_WND_CLASS);
        return nullptr;
    }
    s.last_handle += 2;
    HWND window = reinterpret_cast<HWND>(s.last_handle);
    s.windows.emplace(window, Window{class_key(window_class->name.c_str()), title ? title : u"",
                                     window_class->procedure, std::this_thread::get_id(), false});
    own_queue(s);
    return window;
}

BOOL DestroyWindow(HWND window) {
    State& s = state();
    WNDPROC procedure;
    {
        std::lock_guard<std::mutex> guard(s.lock);
        Window* record = find_window(s, window);
        if (!record || record->destroying) {
            SetLastError(ERROR_INVALID_WINDOW_HANDLE);
            return FALSE;
        }
        if (record->owner != std::this_thread::get_id()) {
            SetLastError(ERROR_ACCESS_DENIED);
            return FALSE;
        }
        record->destroying = true;
        procedure = record->procedure;
    }
    procedure(window, WM_DESTROY, 0, 0);  // the window is still valid meanwhile
    std::lock_guard<std::mutex> guard(s.lock);
    forget_window(s, window, std::this_thread::get_id());
    return TRUE;
}

BOOL IsWindow(HWND window) {
    State& s = state();
    std::lock_guard<std::mutex> guard(s.lock);
    return find_window(s, window) ? TRUE : FALSE;
}

HWND FindWindowW(LPCWSTR class_name, LPCWSTR title) {
    State& s = state();
    std::lock_guard<std::mutex> guard(s.lock);
    std::u16string wanted_class = class_name ? class_key(class_name) : u"";
    std::u16string wanted_title = title ? class_key(title) : u"";
    // Newest first, as the top of the window stack.
    for (auto it = s.windows.rbegin(); it != s.windows.rend(); ++it) {
        if (class_name && it->second.class_key != wanted_class) continue;
        if (title && class_key(it->second.title.c_str()) != wanted_title) continue;
        return it->first;
    }
    return nullptr;
}

int GetWindowTextW(HWND window, LPWSTR text, int capacity) {
    State& s = state();
    std::lock_guard<std::mutex> guard(s.lock);
    Window* record = find_window(s, window);
    if (!record) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        if (text && capacity > 0) text[0] = 0;
        return 0;
    }
    if (!text || capacity <= 0) return 0;
    size_t count = std::min(record->title.size(), static_cast<size_t>(capacity - 1));
    record->title.copy(text, count);
    text[count] = 0;
    return static_cast<int>(count);
}

int GetWindowTextLengthW(HWND window) {
    State& s = state();
    std::lock_guard<std::mutex> guard(s.lock);
    Window* record = find_window(s, window);
    if (!record) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return 0;
    }
    return static_cast<int>(record->title.size());
}

BOOL GetMessageA(MSG* message, HWND window, UINT first, UINT last) {
    if (!message) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return -1;
    }
    State& s = state();
    std::unique_lock<std::mutex> guard(s.lock);
    Queue& queue = own_queue(s);
    if (queue.fail_next_get) {
        queue.fail_next_get = false;
        SetLastError(ERROR_INVALID_PARAMETER);
        return -1;
    }
    for (;;) {
        Clock::time_point next_due = Clock::time_point::max();
        Take taken = take_message(queue, message, window, first, last, true, &next_due);
        if (taken != Take::NONE) return taken == Take::QUIT ? FALSE : TRUE;
        if (next_due == Clock::time_point::max())
            queue.wake.wait(guard);
        else
            queue.wake.wait_until(guard, next_due);
    }
}

BOOL PeekMessageA(MSG* message, HWND window, UINT first, UINT last, UINT remove) {
    if (!message) return FALSE;
    State& s = state();
    std::lock_guard<std::mutex> guard(s.lock);
    Clock::time_point next_due;
    return take_message(own_queue(s), message, window, first, last, (remove & PM_REMOVE) != 0, &next_due) != Take::NONE;
}

BOOL TranslateMessage(const MSG*) {
    return FALSE;  // no keyboard, so never a character message to add
}

LRESULT DispatchMessageA(const MSG* message) {
    if (!message) return 0;
    if (message->message == WM_TIMER && message->lParam) {
        reinterpret_cast<TIMERPROC>(message->lParam)(message->hwnd, WM_TIMER, message->wParam, tick_count());
        return 0;
    }
    if (!message->hwnd) return 0;
    WNDPROC procedure;
    {
        State& s = state();
        std::lock_guard<std::mutex> guard(s.lock);
        Window* record = find_window(s, message->hwnd);
        if (!record || record->owner != std::this_thread::get_id()) {
            SetLastError(ERROR_INVALID_WINDOW_HANDLE);
            return 0;
        }
        procedure = record->procedure;
    }
    return procedure(message->hwnd, message->message, message->wParam, message->lParam);
}

LRESULT DefWindowProcW(HWND window, UINT message, WPARAM, LPARAM) {
    if (message == WM_CLOSE) DestroyWindow(window);
    return 0;
}

BOOL PostMessageW(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
    State& s = state();
    std::lock_guard<std::mutex> guard(s.lock);
    std::thread::id target = std::this_thread::get_id();
    if (window) {
        Window* record = find_window(s, window);
        if (!record) {
            SetLastError(ERROR_INVALID_WINDOW_HANDLE);
            return FALSE;
        }
        target = record->owner;
    }
    Queue& queue = target == std::this_thread::get_id() ? own_queue(s) : queue_of(s, target);
    queue.posted.push_back(MSG{window, message, wparam, lparam, tick_count(), {0, 0}});
    queue.wake.notify_all();
    return TRUE;
}

void PostQuitMessage(int exit_code) {
    State& s = state();
    std::lock_guard<std::mutex> guard(s.lock);
    Queue& queue = own_queue(s);
    queue.quit = true;
    queue.quit_code = exit_code;
    queue.wake.notify_all();
}

UINT_PTR SetTimer(HWND window, UINT_PTR id, UINT elapse_ms, TIMERPROC callback) {
    State& s = state();
    std::lock_guard<std::mutex> guard(s.lock);
    std::thread::id owner = std::this_thread::get_id();
    if (window) {
        Window* record = find_window(s, window);
        if (!record) {
            SetLastError(ERROR_INVALID_WINDOW_HANDLE);
            return 0;
        }
        if (record->owner != owner) {
            SetLastError(ERROR_ACCESS_DENIED);
            return 0;
        }
    }
    Queue& queue = own_queue(s);
    elapse_ms = std::clamp(elapse_ms, USER_TIMER_MINIMUM, USER_TIMER_MAXIMUM);
    auto period = std::chrono::milliseconds(elapse_ms);
    // Setting an existing timer again restarts it.
    for (Timer& timer : queue.timers) {
        if (timer.window == window && timer.id == id) {
            timer.callback = callback, timer.period = period, timer.due = Clock::now() + period;
            queue.wake.notify_all();
            return window ? id : timer.id;
        }
    }
    // Timers without a window get their identifier from the system.
    if (!window) id = ++s.last_thread_timer;
    queue.timers.push_back(Timer{window, id, callback, period, Clock::now() + period});
    queue.wake.notify_all();
    return window ? (id ? id : 1) : id;
}

BOOL KillTimer(HWND window, UINT_PTR id) {
    State& s = state();
    std::lock_guard<std::mutex> guard(s.lock);
    Queue& queue = own_queue(s);
    size_t removed = std::erase_if(queue.timers, [&](const Timer& timer) { return timer.window == window && timer.id == id; });
    return removed ? TRUE : FALSE;
}

void vl_window_fail_next_get_message() {
    State& s = state();
    std::lock_guard<std::mutex> guard(s.lock);
    own_queue(s).fail_next_get = true;
}
