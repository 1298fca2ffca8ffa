// The minimal stand-alone executable: a fixed 1024-byte PE32+ image for
// x86-64 whose one code section clears the result register and returns.
// The image does not depend on the script; the chunk is carried, not read.
#include "vl_pe.h"

#include <array>
#include <cstdint>
#include <cstring>

#include "vl_files.h"

namespace {

using Image = std::array<uint8_t, VL_PE_IMAGE_SIZE>;

constexpr size_t NT_HEADERS = 0x40;          // e_lfanew: no DOS stub
constexpr size_t FILE_HEADER = NT_HEADERS + 4;
constexpr size_t OPTIONAL_HEADER = FILE_HEADER + 20;
constexpr size_t SECTION_HEADER = OPTIONAL_HEADER + 0xF0;
constexpr size_t SECTION_BODY = 0x200;       // FileAlignment and SizeOfHeaders

constexpr void put(Image& image, size_t offset, uint64_t value, int bytes) {
    for (int i = 0; i < bytes; i++) image[offset + i] = static_cast<uint8_t>(value >> (8 * i));
}

constexpr Image build_image() {
    Image image{};
    image[0] = 'M';
    image[1] = 'Z';
    put(image, 0x3C, NT_HEADERS, 4);

    image[NT_HEADERS] = 'P';
    image[NT_HEADERS + 1] = 'E';

    put(image, FILE_HEADER + 0x00, 0x8664, 2);  // Machine: x86-64
    put(image, FILE_HEADER + 0x02, 1, 2);       // NumberOfSections
    put(image, FILE_HEADER + 0x10, 0xF0, 2);    // SizeOfOptionalHeader
    put(image, FILE_HEADER + 0x12, 0x0022, 2);  // executable, large-address aware

    const size_t o = OPTIONAL_HEADER;
    put(image, o + 0x00, 0x020B, 2);    // PE32+
    put(image, o + 0x10, 0x1000, 4);    // AddressOfEntryPoint
    put(image, o + 0x14, 0x1000, 4);    // BaseOfCode
    put(image, o + 0x18, 0x400000, 8);  // ImageBase
    put(image, o + 0x20, 0x1000, 4);    // SectionAlignment
    put(image, o + 0x24, 0x200, 4);     // FileAlignment
    put(image, o + 0x30, 6, 2);         // MajorSubsystemVersion
    put(image, o + 0x38, 0x2000, 4);    // SizeOfImage
    put(image, o + 0x3C, 0x200, 4);     // SizeOfHeaders
    put(image, o + 0x44, 3, 2);         // Subsystem: console
    put(image, o + 0x6C, 16, 4);        // NumberOfRvaAndSizes; all 16 stay empty

    const size_t s = SECTION_HEADER;
    for (size_t i = 0; i < 5; i++) image[s + i] = static_cast<uint8_t>(".text"[i]);
    put(image, s + 0x08, 0x200, 4);       // VirtualSize
    put(image, s + 0x0C, 0x1000, 4);      // VirtualAddress
    put(image, s + 0x10, 0x200, 4);       // SizeOfRawData
    put(image, s + 0x14, SECTION_BODY, 4);  // PointerToRawData
    put(image, s + 0x24, 0x60000020, 4);  // code, executable, readable

    put(image, SECTION_BODY, 0xC3C03148, 4);  // xor rax, rax; ret
    return image;
}

constexpr Image IMAGE = build_image();

static_assert(SECTION_HEADER == 0x148 && SECTION_HEADER + 40 <= SECTION_BODY);
static_assert(IMAGE[0x200] == 0x48 && IMAGE[0x203] == 0xC3);

}  // namespace

VlPeWriter* vl_pe_create(VlArena* arena, VlChunk* chunk, const char* output_path) {
    auto* writer = static_cast<VlPeWriter*>(vl_arena_must_alloc_zero(arena, sizeof(VlPeWriter)));
    writer->output_path = output_path;
    writer->chunk = chunk;
    writer->arena = arena;
    return writer;
}

// The image goes to a temporary file beside the target, which then takes
// its place: a failed write never leaves a half-written executable.
bool vl_pe_generate_exe(VlPeWriter* writer) {
    if (!writer || !writer->output_path) return false;
    return vl_file_replace(writer->output_path, reinterpret_cast<const char*>(IMAGE.data()), IMAGE.size());
}
