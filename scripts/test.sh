#!/usr/bin/env bash
# Builds Velmira with AddressSanitizer and UndefinedBehaviorSanitizer and runs
# the whole test suite, with every fuzz target replaying its seed corpus. The
# benchmarks are built too (so they keep compiling) but not run.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/bootstrap.sh
build=build/test
cmake -S . -B "$build" -G Ninja -DVELMIRA_SANITIZE=ON -DVELMIRA_BENCH=ON -DCMAKE_BUILD_TYPE=Debug -DCMAKE_CXX_FLAGS_DEBUG="-O1 -g" >/dev/null
cmake --build "$build" -j"$(nproc)"
cd "$build"
ctest --output-on-failure -j"$(nproc)"
