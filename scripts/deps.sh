#!/bin/bash
# Installs what the build ("run") or the whole test suite ("test") needs and
# is missing: Debian packages through apt-get when run as root, npm packages
# inside the repository.  Without root it names what is missing and fails.
set -euo pipefail
cd "$(dirname "$0")/.."
what="${1:-run}"

# "command-or-file package" pairs: the package is needed when the first is absent.
needs=(
  "ninja ninja-build"
  "g++ g++"
  "cmake cmake"
)
if [ "$what" = test ]; then
  needs+=(
    "clang++-14 clang-14"
    "/usr/lib/llvm-14/lib/clang/14.0.6/lib/linux/libclang_rt.fuzzer-x86_64.a libclang-rt-14-dev"
    "x86_64-w64-mingw32-g++-posix g++-mingw-w64-x86-64-posix"
    "x86_64-w64-mingw32-gcc-posix gcc-mingw-w64-x86-64-posix"
    "x86_64-w64-mingw32-objdump binutils-mingw-w64-x86-64"
    "wine wine"
    "/usr/lib/wine/wine64 wine64"
    "/usr/src/googletest/CMakeLists.txt googletest"
    "/usr/include/benchmark/benchmark.h libbenchmark-dev"
    "/usr/include/nlohmann/json.hpp nlohmann-json3-dev"
    "/usr/bin/python3 python3"
    "/usr/lib/python3/dist-packages/pytest python3-pytest"
    "/usr/lib/python3/dist-packages/pefile.py python3-pefile"
    "/usr/lib/python3/dist-packages/Xlib python3-xlib"
    "Xvfb xvfb"
    "xdotool xdotool"
    "xwininfo x11-utils"
    "tmux tmux"
    "curl curl"
    "node nodejs"
    "npm npm"
  )
fi

missing=()
for pair in "${needs[@]}"; do
  probe="${pair%% *}" package="${pair##* }"
  if [[ "$probe" == /* ]]; then
    [ -e "$probe" ] || missing+=("$package")
  else
    command -v "$probe" >/dev/null 2>&1 || missing+=("$package")
  fi
done

if [ ${#missing[@]} -gt 0 ]; then
  if [ "$(id -u)" = 0 ]; then
    echo "Installing: ${missing[*]}"
    export DEBIAN_FRONTEND=noninteractive
    apt-get update -q
    apt-get install -y -q --no-install-recommends "${missing[@]}"
  else
    echo "Missing packages: ${missing[*]}" >&2
    echo "Install them (sudo apt-get install ${missing[*]}) or run this as root." >&2
    exit 1
  fi
fi

if [ "$what" = test ] && [ -f tests/lsp/package.json ] && [ ! -d tests/lsp/node_modules ]; then
  (cd tests/lsp && npm ci --no-audit --no-fund --loglevel=error)
fi
