// Any project name through the manifest writer: the manifest must be JSON
// whose "name" is the name given, with each ill-formed UTF-8 subpart
// replaced by U+FFFD, and whose other members are the template's.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include <nlohmann/json.hpp>

#include "vlpkg.h"

namespace {

constexpr std::string_view REPLACEMENT = "\xEF\xBF\xBD";

// The name as a UTF-8 reader sees it: every maximal subpart of an ill-formed
// sequence becomes one U+FFFD (the recommended practice of the Unicode
// standard), well-formed sequences stay.
std::string well_formed(std::string_view in) {
    std::string out;
    size_t i = 0;
    while (i < in.size()) {
        auto lead = static_cast<unsigned char>(in[i]);
        if (lead < 0x80) {
            out += in[i++];
            continue;
        }
        size_t length = 0;
        unsigned char low = 0x80, high = 0xBF;  // range of the second byte
        if (lead >= 0xC2 && lead <= 0xDF) {
            length = 2;
        } else if (lead >= 0xE0 && lead <= 0xEF) {
            length = 3;
            if (lead == 0xE0) low = 0xA0;   // no overlong forms
            if (lead == 0xED) high = 0x9F;  // no surrogates
        } else if (lead >= 0xF0 && lead <= 0xF4) {
            length = 4;
            if (lead == 0xF0) low = 0x90;
            if (lead == 0xF4) high = 0x8F;  // nothing past U+10FFFF
        }
        size_t taken = 1;
        for (; taken < length && i + taken < in.size(); taken++) {
            auto next = static_cast<unsigned char>(in[i + taken]);
            if (next < (taken == 1 ? low : 0x80) || next > (taken == 1 ? high : 0xBF)) break;
        }
        if (length && taken == length)
            out.append(in.substr(i, length));
        else
            out.append(REPLACEMENT);
        i += taken;
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
