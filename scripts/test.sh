#!/bin/sh
# Installs, builds and runs every test through ctest; then once more with ASan and UBSan.
set -e
cd "$(dirname "$0")/.."
sh scripts/install-deps.sh
sh scripts/build.sh build -DTALVIRA_WERROR=ON
(cd build && QT_QPA_PLATFORM=offscreen ctest --output-on-failure -j2)
sh scripts/build.sh build-asan -DTALVIRA_SANITIZE=ON -DBUILD_BENCHMARKS=OFF -DCMAKE_BUILD_TYPE=Debug
(cd build-asan && QT_QPA_PLATFORM=offscreen ASAN_OPTIONS=detect_leaks=0 UBSAN_OPTIONS=print_stacktrace=1 \
  ctest --output-on-failure -j2)
