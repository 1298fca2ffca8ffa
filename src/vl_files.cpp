// Runtime library: whole-file helpers.
#include "vl_files.h"

#include "vl_exceptions.h"
#include "vl_fault.h"
#include "vl_platform.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

namespace {

struct FileCloser {
    void operator()(FILE* file) const { std::fclose(file); }
};
using File = std::unique_ptr<FILE, FileCloser>;

File open_file(const char* path, const char* mode) { return File(vl_platform_file_open(path, mode)); }

// Size of a regular file, or -1 when it cannot be taken (pipes, devices).
// Taken from the file system, not by seeking: a 32-bit ftell cannot report
// 2 GiB or more and would leave the stream at the end of the file.
long long regular_size(const char* path) {
    VlPathInfo info = vl_platform_path_info(path);
    if (info.kind != VlPathKind::regular) return -1;
    return info.size > VL_FILE_MAX_SIZE ? static_cast<long long>(VL_FILE_MAX_SIZE) + 1
                                        : static_cast<long long>(info.size);
}

// Heap memory, which the caller releases with free().
void* reserve_heap(void*, size_t size) {
    return vl_fault_refuse_memory() ? nullptr : std::malloc(size);
}

void* reserve_arena(void* arena, size_t size) { return vl_arena_alloc(static_cast<VlArena*>(arena), size); }

enum class Sync : bool { no, yes };

bool write_all(const char* path, const char* mode, const char* bytes, size_t length, Sync sync = Sync::no) {
    File file = open_file(path, mode);
    if (!file) return false;
    bool ok = std::fwrite(bytes, 1, length, file.get()) == length;
    ok = std::fflush(file.get()) == 0 && ok;
    if (ok && sync == Sync::yes) ok = vl_platform_file_sync(file.get());
    return std::fclose(file.release()) == 0 && ok;
}

}  // namespace

std::FILE* vl_file_open_read(const char* path, long long* size, VlReadStatus* status) {
    auto fail = [&](VlReadStatus why) -> std::FILE* {
        if (status) *status = why;
        return nullptr;
    };
    if (!path || vl_platform_path_info(path).kind == VlPathKind::directory) return fail(VL_READ_UNREADABLE);
    File file = open_file(path, "rb");
    if (!file) return fail(VL_READ_UNREADABLE);
    long long hint = regular_size(path);
    if (hint > static_cast<long long>(VL_FILE_MAX_SIZE)) return fail(VL_READ_TOO_LARGE);
    if (size) *size = hint;
    if (status) *status = VL_READ_OK;
    return file.release();
}

char* vl_file_read_whole(const char* path, void* (*reserve)(void*, size_t), void* context, size_t* length,
                         VlReadStatus* status) {
    auto fail = [&](VlReadStatus why) -> char* {
        if (status) *status = why;
        return nullptr;
    };
    long long hint = -1;
    File file(vl_file_open_read(path, &hint, status));
    if (!file) return nullptr;

    // The size, where it can be taken, is only a hint: a file that grows or
    // shrinks while it is read is still read whole, up to its end.
    size_t first = hint > 0 ? static_cast<size_t>(hint) : 0;
    auto* buffer = static_cast<char*>(reserve(context, first + 1));
    if (!buffer) return fail(VL_READ_NO_MEMORY);
    vl_platform_pages_prepare(buffer, first + 1);  // the read fills it whole
    // Arena buffers go with their arena; a heap buffer must not outlive a failure.
    auto drop = [&](VlReadStatus why) -> char* {
        if (reserve == reserve_heap) std::free(buffer);
        return fail(why);
    };
    size_t got = std::fread(buffer, 1, first + 1, file.get());
    if (std::ferror(file.get())) return drop(VL_READ_UNREADABLE);
    if (got <= first) {
        buffer[got] = '\0';
        if (length) *length = got;
        if (status) *status = VL_READ_OK;
        return buffer;
    }

    // More bytes than the hint promised: collect the rest in a growing buffer.
    std::string whole;
    VL_TRY {
        whole.assign(buffer, got);
        char chunk[65536];
        for (;;) {
            size_t n = std::fread(chunk, 1, sizeof chunk, file.get());
            whole.append(chunk, n);
            if (whole.size() > VL_FILE_MAX_SIZE) return drop(VL_READ_TOO_LARGE);
            if (n < sizeof chunk) break;
        }
    } VL_CATCH(const std::bad_alloc&) {
        return drop(VL_READ_NO_MEMORY);
    }
    if (std::ferror(file.get())) return drop(VL_READ_UNREADABLE);
    if (reserve == reserve_heap) std::free(buffer);
    buffer = static_cast<char*>(reserve(context, whole.size() + 1));
    if (!buffer) return fail(VL_READ_NO_MEMORY);
    std::memcpy(buffer, whole.data(), whole.size());
    buffer[whole.size()] = '\0';
    if (length) *length = whole.size();
    if (status) *status = VL_READ_OK;
    return buffer;
}

char* vl_file_read_heap(const char* path, size_t* length, VlReadStatus* status) {
    return vl_file_read_whole(path, reserve_heap, nullptr, length, status);
}

char* vl_file_read_sized(VlArena* arena, const char* path, size_t* length, VlReadStatus* status) {
    if (!arena) {
        if (status) *status = VL_READ_NO_MEMORY;
        return nullptr;
    }
    return vl_file_read_whole(path, reserve_arena, arena, length, status);
}

char* vl_file_read(VlArena* arena, const char* path) {
    return vl_file_read_sized(arena, path, nullptr, nullptr);
}

bool vl_file_write(const char* path, const char* text) {
    if (!path || !text) return false;
    return write_all(path, "wb", text, std::strlen(text));
}

bool vl_file_append(const char* path, const char* text) {
    if (!path || !text) return false;
    return write_all(path, "ab", text, std::strlen(text));
}

bool vl_file_exists(const char* path) {
    if (!path) return false;
    return open_file(path, "rb") != nullptr;
}

VlReplaceResult vl_file_replace_same(const char* path, const char* bytes, size_t length,
                                     const VlFileIdentity* expected) {
    if (!path || (!bytes && length)) return VL_REPLACE_FAILED;
    std::string target(path);
    VlPathInfo original = vl_platform_path_info(path);
    // Through a symbolic link the file it names is replaced, not the link.
    if (original.link) {
        target = vl_platform_link_target(path);
        if (target.empty()) return expected ? VL_REPLACE_CHANGED : VL_REPLACE_FAILED;
    }
    auto still_expected = [&] {
        VlFileIdentity now;
        return !expected || (vl_platform_file_identity(target.c_str(), &now) && now == *expected);
    };
    if (original.kind == VlPathKind::directory) return VL_REPLACE_FAILED;
    if (original.kind == VlPathKind::other) {
        // A device or a pipe takes the bytes in place: a rename would put a
        // regular file where the device was.
        if (!still_expected()) return VL_REPLACE_CHANGED;
        return write_all(target.c_str(), "wb", bytes ? bytes : "", length) ? VL_REPLACE_OK : VL_REPLACE_FAILED;
    }

    // A name beside the target, so that the final rename stays on one file system.
    std::string temporary;
    for (int attempt = 0;; attempt++) {
        temporary = target + ".vltmp" + std::to_string(attempt);
        if (!vl_platform_path_taken(temporary.c_str())) break;
        if (attempt == 999) return VL_REPLACE_FAILED;
    }
    auto discard = [&](VlReplaceResult why) {
        vl_platform_file_remove(temporary.c_str());
        return why;
    };
    // The contents reach the disk before the rename, so that after a crash
    // the target holds the old contents or the new ones, never an empty file.
    if (!write_all(temporary.c_str(), "wb", bytes ? bytes : "", length, Sync::yes)) return discard(VL_REPLACE_FAILED);
    if (original.kind == VlPathKind::regular && !vl_platform_copy_permissions(target.c_str(), temporary.c_str()))
        return discard(VL_REPLACE_FAILED);
    if (!still_expected()) return discard(VL_REPLACE_CHANGED);
    if (!vl_platform_file_rename(temporary.c_str(), target.c_str())) return discard(VL_REPLACE_FAILED);
    // The rename itself lives in the directory; until that is on the disk
    // the new name may not survive a crash.
    return vl_platform_directory_sync_of(target.c_str()) ? VL_REPLACE_OK : VL_REPLACE_FAILED;
}

bool vl_file_replace(const char* path, const char* bytes, size_t length) {
    return vl_file_replace_same(path, bytes, length, nullptr) == VL_REPLACE_OK;
}

bool vl_file_identity(const char* path, VlFileIdentity* identity) {
    return path && identity && vl_platform_file_identity(path, identity);
}
