#include "vlpkg.h"
#include <cstdio>
bool vlpkg_init_project(VlArena*, const char*) { std::fputs("velmorine: 'pkg' is not implemented yet\n", stderr); return false; }
bool vlpkg_install_package(VlArena*, const char*) { std::fputs("velmorine: 'pkg' is not implemented yet\n", stderr); return false; }
bool vlpkg_generate_lockfile() { return false; }
