#!/usr/bin/env bash
# Formats the C++ sources with the project's .clang-format.
# scripts/format.sh         formats every tracked source file in place
# scripts/format.sh --check lists files whose layout differs, exit 1 if any
set -euo pipefail
cd "$(dirname "$0")/.."
mapfile -t files < <(git ls-files '*.cpp' '*.h' | grep -v '/corpus/')
if [ "${1:-}" = "--check" ]; then
  bad=0
  for f in "${files[@]}"; do
    if ! clang-format --style=file "$f" | cmp -s - "$f"; then echo "$f"; bad=1; fi
  done
  exit $bad
fi
clang-format --style=file -i "${files[@]}"
