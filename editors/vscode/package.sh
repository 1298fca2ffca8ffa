#!/bin/sh
# Packages the extension as a .vsix from the packages already installed in
# node_modules (npm ci), without the network.  Usage: package.sh [out.vsix]
set -eu
out="${1:-velmorine.vsix}"
case $out in /*) ;; *) out="$(pwd)/$out" ;; esac
cd "$(dirname "$0")"
export npm_config_offline=true
exec node node_modules/@vscode/vsce/vsce package --skip-license --allow-missing-repository --out "$out"
