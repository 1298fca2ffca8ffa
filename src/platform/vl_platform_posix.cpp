// POSIX side of the operating-system layer.
#include "vl_platform.h"
#include "vl_exceptions.h"

#include <atomic>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>
#include <csignal>
#include <cstdint>
#include <cerrno>
#include <cstdlib>
#include <ctime>
#include <string>
#include <string_view>
#include <system_error>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#if defined(__linux__)
#include <sys/prctl.h>
#endif
#include <unistd.h>

namespace {

// Linux backs a range advised as huge with 2 MiB pages where it can: one
// fault and one clearing per 2 MiB instead of 512 faults.  A mapping whose
// length is a whole number of large pages is placed on a large-page
// boundary, so the large blocks are sized that way; the tail past what was
// asked for is never touched and costs nothing.
constexpr size_t LARGE_PAGE = size_t{2} << 20;

// A large page is fast only when the system has one ready.  On a virtual
// machine that hands free memory back to its host, a whole free 2 MiB block
// is soon handed back, and the first write to it waits for the host to back
// every small page of it: 150 MiB then took 400 ms in large pages against
// 80 ms in small ones, which the system still finds among recently used
// memory (and 8 ms in large pages that were ready).  So the pages prepared
// in large pages are timed, in the thread's own processor time, which the
// host's work counts in and other programs' turns do not; once they cost
// more than small pages would, the rest of the run uses small pages.  The
// switch is the process's (PR_SET_THP_DISABLE): advice taken back from part
// of a mapping would split it, and a split mapping no longer grows in place.
constexpr double SLOW_SECONDS_PER_BYTE = 1e-3 / (1 << 20);  // 1 ms a MiB; small pages take about half that
std::atomic<bool> large_pages_pay{true};

double thread_seconds() {
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
}

size_t mapping_size(size_t size) {
    if (size < LARGE_PAGE || size > SIZE_MAX - LARGE_PAGE) return size;
    return (size + LARGE_PAGE - 1) & ~(LARGE_PAGE - 1);
}

void advise_large(void* pages, size_t size) {
#if defined(MADV_HUGEPAGE)
    if (large_pages_pay.load(std::memory_order_relaxed) && size >= LARGE_PAGE)
        madvise(pages, mapping_size(size), MADV_HUGEPAGE);
#else
    (void)pages, (void)size;
#endif
}

// The pages asked for with vl_platform_pages_prepare_soon are backed by a
// thread of their own, while the caller goes on writing the pages before
// them.  A range whose mapping is resized or released is forgotten first,
// so the thread never touches addresses that no longer hold these pages.
class Preparer {
public:
    void ask(char* start, size_t length) {
        {
            std::lock_guard<std::mutex> hold(lock_);
            if (!started_) {
                started_ = true;
                VL_TRY {
                    std::thread([this] { work(); }).detach();
                    running_ = true;
                } VL_CATCH(const std::system_error&) {
                    running_ = false;  // no thread: the caller backs its own pages
                }
            }
            if (running_) {
                waiting_.push_back(Range{start, length});
                wake_.notify_one();
                return;
            }
        }
        vl_platform_pages_prepare(start, length);
    }

    // Drops the requests inside [start, start + length) and waits for the
    // one being carried out there.
    void forget(const char* start, size_t length) {
        std::unique_lock<std::mutex> hold(lock_);
        if (!running_) return;
        auto inside = [&](const Range& range) {
            return range.start < start + length && start < range.start + range.length;
        };
        std::erase_if(waiting_, inside);
        done_.wait(hold, [&] { return !busy_ || !inside(*busy_); });
    }

private:
    struct Range {
        char* start;
        size_t length;
    };

    [[noreturn]] void work() {
        std::unique_lock<std::mutex> hold(lock_);
        for (;;) {
            wake_.wait(hold, [&] { return !waiting_.empty(); });
            Range range = waiting_.front();
            waiting_.pop_front();
            busy_ = &range;
            hold.unlock();
            vl_platform_pages_prepare(range.start, range.length);
            hold.lock();
            busy_ = nullptr;
            done_.notify_all();
        }
    }

    std::mutex lock_;
    std::condition_variable wake_, done_;
    std::deque<Range> waiting_;
    const Range* busy_ = nullptr;
    bool started_ = false, running_ = false;
};

// Never destroyed: the thread may still wait on it while the process exits.
Preparer& preparer() {
    static Preparer* const one = new Preparer;
    return *one;
}

// Only a process that has started the thread has requests to forget.
std::atomic<bool> preparing{false};

void forget_prepared(void* pages, size_t size) {
    if (preparing.load(std::memory_order_acquire)) preparer().forget(static_cast<const char*>(pages), size);
}

}  // namespace

void* vl_platform_pages_alloc(size_t size, VlPagesUse) {
    void* pages = mmap(nullptr, mapping_size(size), PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (pages == MAP_FAILED) return nullptr;
    advise_large(pages, size);
    return pages;
}

void vl_platform_pages_free(void* pages, size_t size) {
    forget_prepared(pages, mapping_size(size));
    munmap(pages, mapping_size(size));
}

void* vl_platform_pages_resize(void* pages, size_t old_size, size_t new_size) {
#if defined(__linux__)
    forget_prepared(pages, mapping_size(old_size));
    void* moved = mremap(pages, mapping_size(old_size), mapping_size(new_size), MREMAP_MAYMOVE);
    if (moved == MAP_FAILED) return nullptr;
    advise_large(moved, new_size);
    return moved;
#else
    (void)pages, (void)old_size, (void)new_size;
    return nullptr;
#endif
}

void vl_platform_pages_prepare(void* memory, size_t size) {
#if defined(MADV_POPULATE_WRITE)
    static const uintptr_t page = static_cast<uintptr_t>(sysconf(_SC_PAGESIZE));
    uintptr_t from = reinterpret_cast<uintptr_t>(memory) & ~(page - 1);
    uintptr_t to = (reinterpret_cast<uintptr_t>(memory) + size) & ~(page - 1);
    if (to <= from) return;
    void* start = reinterpret_cast<void*>(from);
    const size_t length = to - from;
#if defined(MADV_HUGEPAGE) && defined(PR_SET_THP_DISABLE)
    const bool timed = length >= LARGE_PAGE && large_pages_pay.load(std::memory_order_relaxed);
    const double before = timed ? thread_seconds() : 0.0;
    madvise(start, length, MADV_POPULATE_WRITE);
    if (timed && thread_seconds() - before > SLOW_SECONDS_PER_BYTE * static_cast<double>(length)) {
        large_pages_pay.store(false, std::memory_order_relaxed);
        prctl(PR_SET_THP_DISABLE, 1, 0, 0, 0);
    }
#else
    madvise(start, length, MADV_POPULATE_WRITE);
#endif
#else
    (void)memory, (void)size;
#endif
}

void vl_platform_pages_prepare_soon(void* memory, size_t size) {
#if defined(MADV_POPULATE_WRITE)
    // One processor has no time to spare for it.
    static const bool spare_processor = std::thread::hardware_concurrency() > 1;
    if (!spare_processor) return vl_platform_pages_prepare(memory, size);
    preparing.store(true, std::memory_order_release);
    preparer().ask(static_cast<char*>(memory), size);
#else
    (void)memory, (void)size;
#endif
}

void vl_platform_ignore_broken_pipe() {
    std::signal(SIGPIPE, SIG_IGN);
}

std::string vl_platform_link_target(const char* path) {
    char* resolved = realpath(path, nullptr);
    if (!resolved) return {};
    std::string target(resolved);
    std::free(resolved);
    return target;
}

std::string vl_platform_executable_path() { return vl_platform_link_target("/proc/self/exe"); }

bool vl_platform_copy_permissions(const char* from, const char* to) {
    struct stat info;
    return stat(from, &info) == 0 && chmod(to, info.st_mode & 07777) == 0;
}

char** vl_platform_utf8_arguments(int*, char** argv) { return argv; }
