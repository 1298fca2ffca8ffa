// velmorine-dap: the debug adapter, for editors that speak the Debug Adapter
// Protocol on standard input and output.  It takes no arguments; the editor's
// launch request names the script.  Frames are read on a thread of their own,
// so that a pause or a disconnect reaches a running script; the session
// (vldap.h) does the rest.
#include <condition_variable>
#include <cstdio>
#include <deque>
#include <exception>
#include <mutex>
#include <thread>

#include "vl_framing.h"
#include "vl_platform.h"
#include "vldap.h"

namespace {

// Never destroyed: the reader may still wait on input as the process ends.
struct Inbox {
    std::mutex lock;
    std::condition_variable arrived;
    std::deque<VlFrame> frames;
};

}  // namespace

int main() {
    vl_platform_stdin_binary();
    vl_platform_stdout_binary();
    vl_platform_ignore_broken_pipe();
    auto* inbox = new Inbox;
    std::thread([inbox] {
        VlFrameReader reader(stdin, VL_DAP_MAX_CONTENT);
        for (;;) {
            VlFrame frame = reader.next();
            if (frame.status == VlFrameStatus::too_large && !reader.skip(frame)) frame.status = VlFrameStatus::ended;
            const bool ended = frame.status == VlFrameStatus::ended;
            {
                std::lock_guard<std::mutex> hold(inbox->lock);
                inbox->frames.push_back(std::move(frame));
            }
            inbox->arrived.notify_one();
            if (ended) return;
        }
    }).detach();

    bool output_open = true;
    VlDapSession session([&output_open](const std::string& body) {
        if (output_open) output_open = vl_frame_write(stdout, body);
    });
    for (;;) {
        std::deque<VlFrame> frames;
        {
            std::unique_lock<std::mutex> hold(inbox->lock);
            if (!session.running()) inbox->arrived.wait(hold, [inbox] { return !inbox->frames.empty(); });
            frames.swap(inbox->frames);
        }
        for (VlFrame& frame : frames) {
            if (frame.status == VlFrameStatus::ended) return 0;  // the client has gone
            if (frame.status == VlFrameStatus::too_large) session.skipped(frame.length);
            if (frame.status != VlFrameStatus::message) continue;
            try {
                session.handle(frame.content);
            } catch (const std::exception&) {
                // Only memory exhaustion gets here; the message is dropped.
            }
            if (session.finished()) return 0;
        }
        if (!output_open) return 0;
        session.work();
    }
}
