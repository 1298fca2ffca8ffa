// Which file a path names: a volume and a file number.
#pragma once
#include <cstdint>

struct VlFileIdentity {
    uint64_t volume;
    uint64_t file;
    bool operator==(const VlFileIdentity&) const = default;
};
