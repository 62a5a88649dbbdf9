#!/usr/bin/env bash
# Builds and runs one benchmark (bench/NAME.cpp) in a release build.
set -euo pipefail
cd "$(dirname "$0")/.."
name=${1:?usage: scripts/bench.sh NAME [benchmark options]}
shift
build=build/bench-$name
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DVELMIRA_TESTS=OFF -DVELMIRA_BENCH=ON >/dev/null
cmake --build "$build" -j2 --target "bench_$name"
"$build/bench/bench_$name" "$@"
