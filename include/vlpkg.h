// Package manager: manifest and lock file in the current directory.
#pragma once
#include <string>
#include <string_view>
#include "vl_arena.h"

bool vlpkg_init_project(VlArena* arena, const char* name);
bool vlpkg_install_package(VlArena* arena, const char* package);
bool vlpkg_generate_lockfile();

// The manifest of a project called `name`: always JSON.
[[nodiscard]] std::string vlpkg_manifest_text(std::string_view name);
