// Package manager: manifest and lock file in the current directory.
#pragma once
#include "vl_arena.h"

bool vlpkg_init_project(VlArena* arena, const char* name);
bool vlpkg_install_package(VlArena* arena, const char* package);
bool vlpkg_generate_lockfile();
