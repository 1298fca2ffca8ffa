// Package manager: writes the manifest and the lock file of a project in the
// current directory from fixed templates.  Nothing is fetched.
#include "vlpkg.h"
#include "vl_output.h"

#include <cstdio>
#include <string>
#include <string_view>

#include <nlohmann/json.hpp>

#include "vl_files.h"

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

// Files are replaced whole, so a failed write leaves the previous file.
bool write_project_file(const char* path, std::string_view text) {
    if (vl_file_replace(path, text.data(), text.size())) return true;
    vl_printf(stderr, "Error: Could not write file '%s'\n", path);
    return false;
}

}  // namespace

bool vlpkg_generate_lockfile() {
    if (!write_project_file(LOCK_PATH, LOCK_TEXT)) return false;
    vl_puts("[VLPKG] Updated 'vlpackage.lock'.");
    return true;
}

std::string vlpkg_manifest_text(std::string_view name) {
    // The name becomes a JSON string: quotes, backslashes and control
    // characters are escaped, and bytes that are not UTF-8 become U+FFFD, or
    // the manifest would not be JSON.  Everything else passes unchanged.
    std::string manifest = "{\n  \"name\": ";
    manifest += nlohmann::json(std::string(name)).dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
    manifest +=
        ",\n"
        "  \"version\": \"1.0.0\",\n"
        "  \"author\": \"Developer\",\n"
        "  \"dependencies\": {}\n"
        "}\n";
    return manifest;
}

bool vlpkg_init_project(VlArena*, const char* name) {
    std::string manifest = vlpkg_manifest_text(name ? name : "my_vl_app");
    if (!write_project_file(MANIFEST_PATH, manifest)) return false;
    vl_puts("[VLPKG] Initialized new VELMORINE project in 'vlpackage.json'.");
    return vlpkg_generate_lockfile();
}

bool vlpkg_install_package(VlArena*, const char* package) {
    if (!package) return false;
    vl_printf(stdout, "[VLPKG] Fetching package '%s' from official VELMORINE registry...\n", package);
    vl_printf(stdout, "[VLPKG] Resolving dependency graph for '%s' v1.0.0 ... OK\n", package);
    vl_printf(stdout, "[VLPKG] Installed '%s' successfully!\n", package);
    return vlpkg_generate_lockfile();
}
