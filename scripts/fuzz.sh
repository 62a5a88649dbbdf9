#!/usr/bin/env bash
# Builds one fuzz target (fuzz/NAME.cpp) with clang, libFuzzer, ASan and UBSan
# and runs it for SECONDS (default 60) on a copy of its seed corpus.
set -euo pipefail
cd "$(dirname "$0")/.."
name=${1:?usage: scripts/fuzz.sh NAME [SECONDS]}
seconds=${2:-60}
# One build folder serves every target: the libraries are instrumented once.
build=build/fuzz
CC=clang CXX=clang++ cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVELMIRA_FUZZ=ON >/dev/null
cmake --build "$build" -j2 --target "fuzz_$name"
# Absolute paths: a target may change the current directory, and libFuzzer
# reads the corpus and writes findings after it has run inputs.
work="$PWD/$build/corpus-$name"
findings="$PWD/fuzz/findings/$name"
mkdir -p "$work" "$findings"
if [ -d "fuzz/corpus/$name" ]; then cp -n fuzz/corpus/"$name"/* "$work"/ 2>/dev/null || true; fi
"$build/fuzz/fuzz_$name" -max_total_time="$seconds" -artifact_prefix="$findings/" -print_final_stats=1 "$work"
