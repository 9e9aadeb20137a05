#!/bin/sh
# Configures and builds into build/ (or the directory given as $1, with extra CMake options after it).
set -e
cd "$(dirname "$0")/.."
BUILD=${1:-build}
[ $# -gt 0 ] && shift
cmake -S . -B "$BUILD" -DCMAKE_BUILD_TYPE=RelWithDebInfo "$@" >/dev/null
cmake --build "$BUILD" -j"$(nproc)"
