// Any project name through the manifest writer: the manifest must be JSON
// whose "name" is the name given, with each ill-formed UTF-8 subpart
// replaced by U+FFFD, and whose other members are the template's.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include <nlohmann/json.hpp>

#include "vl_utf8.h"
#include "vlpkg.h"

namespace {

constexpr std::string_view REPLACEMENT = "\xEF\xBF\xBD";

// The name as a UTF-8 reader sees it: every maximal subpart of an ill-formed
// sequence becomes one U+FFFD (the recommended practice of the Unicode
// standard), well-formed sequences stay.
std::string well_formed(std::string_view in) {
    const std::string text(in);  // NUL-terminated, as the decoder reads
    const auto* bytes = reinterpret_cast<const unsigned char*>(text.c_str());
    std::string out;
    for (size_t i = 0; i < text.size();) {
        VlCodePoint point = vl_utf8_next(bytes + i);
        if (point.well_formed)
            out.append(text, i, point.bytes);
        else
            out.append(REPLACEMENT);
        i += point.bytes;
    }
    return out;
}

bool plain(std::string_view name) {
    for (char c : name)
        if (c == '"' || c == '\\' || static_cast<unsigned char>(c) < 0x20) return false;
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string_view name(reinterpret_cast<const char*>(data), size);
    std::string manifest = vlpkg_manifest_text(name);
    nlohmann::json parsed = nlohmann::json::parse(manifest, nullptr, false);
    if (parsed.is_discarded() || !parsed.is_object() || parsed.size() != 4) std::abort();
    std::string expected = well_formed(name);
    if (parsed["name"] != expected || parsed["version"] != "1.0.0" || parsed["author"] != "Developer" ||
        parsed["dependencies"] != nlohmann::json::object())
        std::abort();
    // A name that needs no escaping is written as it is, in the template.
    if (expected == name && plain(name) &&
        manifest != "{\n  \"name\": \"" + expected +
                        "\",\n  \"version\": \"1.0.0\",\n  \"author\": \"Developer\",\n  \"dependencies\": {}\n}\n")
        std::abort();
    return 0;
}
