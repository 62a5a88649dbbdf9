#!/usr/bin/env bash
# Builds Velmira and runs the bundled demo game: in a window when there is a
# display, otherwise headless for a few seconds with a screenshot.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/bootstrap.sh
build=build/release
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DVELMIRA_TESTS=OFF >/dev/null
cmake --build "$build" -j"$(nproc)" --target velmira velmira-tool
if [ -n "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ]; then
  exec "$build/apps/velmira/velmira" games/demo "$@"
fi
echo "run-demo: no display; running headless for 300 frames"
input=$(mktemp)
trap 'rm -f "$input"' EXIT
printf '120 shot demo-shot.png\n299 shot demo-shot-end.png\n' > "$input"
"$build/apps/velmira/velmira" -headless -frames 300 -input "$input" -log demo.log games/demo "$@"
echo "run-demo: screenshots demo-shot.png and demo-shot-end.png, log demo.log"
