#!/bin/sh
# Installs, builds and runs every test through ctest; then once more with ASan and UBSan;
# then the fuzz targets (clang, libFuzzer): a fixed number of inputs from a fixed seed each, so
# that every machine gets the same answer, and every input that ever crashed one fed to it again.
# scripts/install-deps.sh also generates the ru_RU.UTF-8 locale: the end-to-end test runs once
# under C.UTF-8 and once under ru_RU.UTF-8 (ctest entries e2e_tests and e2e_tests_ru).
set -e
cd "$(dirname "$0")/.."
sh scripts/install-deps.sh
locale -a | grep -qi '^ru_RU\.utf-\?8$' || { echo "the ru_RU.UTF-8 locale is missing" >&2; exit 1; }
JOBS=$(nproc)

echo "== build and test (warnings as errors)"
sh scripts/build.sh build -DTALVIRA_WERROR=ON
(cd build && QT_QPA_PLATFORM=offscreen ctest --output-on-failure -j"$JOBS")

echo "== build and test with AddressSanitizer and UndefinedBehaviorSanitizer"
sh scripts/build.sh build-asan -DTALVIRA_SANITIZE=ON -DBUILD_BENCHMARKS=OFF -DCMAKE_BUILD_TYPE=Debug
(cd build-asan && QT_QPA_PLATFORM=offscreen ASAN_OPTIONS=detect_leaks=0 UBSAN_OPTIONS=print_stacktrace=1 \
  ctest --output-on-failure -j"$JOBS")

echo "== fuzz targets: a fixed seed and number of inputs each, and the kept crash inputs"
CC=clang CXX=clang++ cmake -S . -B build-fuzz -DBUILD_FUZZERS=ON -DBUILD_BENCHMARKS=OFF \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build-fuzz -j"$JOBS" --target fuzz_all
(cd build-fuzz && ctest --output-on-failure -R '^fuzz_')
