// The debug adapter's session: Debug Adapter Protocol messages in, responses
// and events out, driving the debugger's engine (vl_debugger.h) for one
// script.  tools/velmorine_dap.cpp carries the messages over standard input
// and output, framed as the language server's are.
#pragma once
#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include <cstddef>

// Larger messages are skipped unread.
inline constexpr size_t VL_DAP_MAX_CONTENT = size_t{16} << 20;

class VlDapSession {
public:
    // `send` writes one outgoing message (a response or an event) as JSON.
    explicit VlDapSession(std::function<void(const std::string& body)> send);
    ~VlDapSession();
    VlDapSession(const VlDapSession&) = delete;
    VlDapSession& operator=(const VlDapSession&) = delete;

    // One message from the client; anything that is not a usable request
    // gets an error response, or an output event when it cannot be answered.
    void handle(std::string_view content);
    // A message that was too large to read was skipped.
    void skipped(size_t length);
    // Whether the script is running: work() then has something to do.
    [[nodiscard]] bool running() const;
    // Runs the script a stretch (a few milliseconds at most) and sends what
    // comes of it: displays, a stop, the end.
    void work();
    // After disconnect: the adapter ends.
    [[nodiscard]] bool finished() const;

private:
    struct State;
    std::unique_ptr<State> state_;
};
