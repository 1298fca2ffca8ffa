#!/bin/bash
# Installs what is missing for one purpose, then returns:
#   run    building velmorine (scripts/velm)
#   test   building and running every test in every lane (scripts/test-all)
#   bench  the side-by-side comparison with other interpreters (bench/compare),
#          and the playground's in Chromium (bench/playground.mjs)
#   playground  the WebAssembly build and the page (scripts/playground)
#   release  the packages that scripts/release makes
# Debian packages come through apt-get when run as root; npm packages are
# installed inside the repository.  Without root it names what is missing and fails.
set -euo pipefail
cd "$(dirname "$0")/.."
what="${1:-run}"

# "probe package" pairs: the package is needed when the probe (a command, an
# absolute path, or "dpkg:" for the package itself) is absent.
# What the WebAssembly build needs (the playground's modules), for the test
# lanes, the release and scripts/playground.
wasm_build=(
  "clang++-14 clang-14"
  "wasm-ld-14 lld-14"
  "/usr/lib/wasm32-wasi/libc.a wasi-libc"
  "/usr/lib/wasm32-wasi/libc++.a libc++-14-dev-wasm32"
  "/usr/lib/wasm32-wasi/libc++abi.a libc++abi-14-dev-wasm32"
  "/usr/lib/llvm-14/lib/clang/14.0.6/lib/wasi/libclang_rt.builtins-wasm32.a libclang-rt-14-dev-wasm32"
  "wasm-opt binaryen"
)
needs=(
  "ninja ninja-build"
  "g++ g++"
  "cmake cmake"
  "/usr/include/nlohmann/json.hpp nlohmann-json3-dev"
)
case $what in
  run) ;;
  test)
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
      "/usr/bin/python3 python3"
      "/usr/lib/python3/dist-packages/pytest python3-pytest"
      "/usr/lib/python3/dist-packages/pefile.py python3-pefile"
      "/usr/lib/python3/dist-packages/Xlib python3-xlib"
      "Xvfb xvfb"
      "xdotool xdotool"
      "xwininfo x11-utils"
      "/usr/lib/x86_64-linux-gnu/libX11.so.6 libx11-6"
      "tmux tmux"
      "curl curl"
      "valgrind valgrind"
      "pandoc pandoc"
      "groff groff-base"
      "strace strace"
      "nvim neovim"
      "emacs emacs-nox"
      "dpkg: elpa-eglot"
      "dpkg: elpa-dap-mode"
      "node nodejs"
      "npm npm"
      "lintian lintian"
      "man man-db"
      "unzip unzip"
      "${wasm_build[@]}"
      "chromium chromium"
    )
    ;;
  release)
    needs+=(
      "x86_64-w64-mingw32-g++-posix g++-mingw-w64-x86-64-posix"
      "x86_64-w64-mingw32-gcc-posix gcc-mingw-w64-x86-64-posix"
      "x86_64-w64-mingw32-strip binutils-mingw-w64-x86-64"
      "makensis nsis"
      "pandoc pandoc"
      "dpkg-shlibdeps dpkg-dev"
      "git git"
      "/usr/bin/python3 python3"
      "node nodejs"
      "npm npm"
      "${wasm_build[@]}"
    )
    ;;
  playground)
    needs+=(
      "${wasm_build[@]}"
      "node nodejs"
      "npm npm"
      "/usr/bin/python3 python3"
    )
    ;;
  bench)
    needs+=(
      "/usr/include/benchmark/benchmark.h libbenchmark-dev"
      "/usr/bin/python3 python3"
      "lua5.4 lua5.4"
      "luajit luajit"
      "node nodejs"
      "chromium chromium"
    )
    ;;
  *) echo "usage: scripts/deps.sh [run|test|bench|release|playground]" >&2; exit 2 ;;
esac

missing=()
for pair in "${needs[@]}"; do
  probe="${pair%% *}" package="${pair##* }"
  if [ "$probe" = dpkg: ]; then
    dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "ok installed" || missing+=("$package")
  elif [[ "$probe" == /* ]]; then
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

npm_dirs=()
case $what in
  test) npm_dirs=(tests/lsp tests/dap editors/vscode playground) ;;
  release) npm_dirs=(editors/vscode playground) ;;  # vsce, for the .vsix; the page's packages
  playground) npm_dirs=(playground) ;;
esac
if [ ${#npm_dirs[@]} -gt 0 ]; then
  for dir in "${npm_dirs[@]}"; do
    # Installed once, and again when the lock file has changed since.
    if [ -f "$dir/package-lock.json" ] && [ ! "$dir/node_modules/.package-lock.json" -nt "$dir/package-lock.json" ]; then
      (cd "$dir" && npm ci --no-audit --no-fund --loglevel=error)
    fi
  done
fi
