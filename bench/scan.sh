#!/usr/bin/env bash
# The window's folder scan over COUNT recordings (small valid files under
# generated names, a folder per day as recorders write them), next to `find`
# over the same folder: how long the list takes to fill, and the longest
# stall of the window's thread meanwhile (a 5 ms timer that did not get its
# turn). The window runs on Qt's offscreen platform.
#
#   bench/scan.sh [COUNT] [BUILD_DIR]     (COUNT [10000] recordings; BUILD_DIR [build/release])
# Goal: the scan within 3 s, no stall over 100 ms.
set -euo pipefail
count=${1:-10000}
cd "$(dirname "$0")/.."
build=${2:-build/release}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$build" --target dravik-tool Dravik >/dev/null
tool="$build/cli/dravik-tool"
player="$build/app/Dravik"

# One small recording of each kind; every listed file is one of them under
# its own name (hard links: the names are what the scan reads, the headers
# what it probes).
"$tool" mksample "$work/one" --channels 4 --seconds 1 --width 160 --height 96 --audio none >/dev/null
"$tool" mksample "$work/one" --format avi --channels 1 --seconds 1 --width 160 --height 96 --audio none >/dev/null
qvv=$(ls "$work"/one/*.qvv | head -1)
avi=$(ls "$work"/one/*.avi | head -1)
python3 - "$work/recordings" "$count" "$qvv" "$avi" <<'PY'
import datetime, os, sys
root, count, qvv, avi = sys.argv[1], int(sys.argv[2]), sys.argv[3], sys.argv[4]
start = datetime.datetime(2024, 3, 1, 0, 0, 0)
for i in range(count):
    t = start + datetime.timedelta(minutes=3 * i)
    folder = os.path.join(root, t.strftime("%Y%m%d"))
    os.makedirs(folder, exist_ok=True)
    stamp = t.strftime("%Y%m%d%H%M%S")
    if i % 2:
        os.link(avi, os.path.join(folder, f"{stamp}_0010_{i % 4 + 1:02d}.avi"))
    else:
        os.link(qvv, os.path.join(folder, f"{stamp}_1000.qvv"))
PY
sync

best() { sort -n | head -1; }
find_runs=""
for _ in 1 2 3; do
  t0=$(date +%s.%N)
  find "$work/recordings" -type f \( -iname '*.qvv' -o -iname '*.avi' -o -iname '*.flv' -o -iname '*.mp4' \) | wc -l >/dev/null
  find_runs+="$(awk -v a="$t0" -v b="$(date +%s.%N)" 'BEGIN{printf "%.3f", b-a}')"$'\n'
done
find_s=$(printf '%s' "$find_runs" | best)

scan_runs=""
for _ in 1 2 3; do
  QT_QPA_PLATFORM=offscreen SDL_AUDIODRIVER=dummy "$player" --home "$work/home" "$work/recordings" --scan-stats \
    > "$work/scan.txt" 2> "$work/scan.log" || { cat "$work/scan.log" >&2; exit 1; }
  scan_runs+="$(grep '^scan_seconds=' "$work/scan.txt")"$'\n'
done
printf '%s' "$scan_runs" | sed 's/^/window: /'
line=$(printf '%s' "$scan_runs" | sort -t= -k2 -n | head -1)
scan_s=$(sed 's/.*scan_seconds=\([0-9.]*\).*/\1/' <<<"$line")
printf 'recordings=%d find_seconds=%s scan_seconds=%s ratio=%.1f\n' "$count" "$find_s" "$scan_s" \
  "$(awk -v a="$scan_s" -v b="$find_s" 'BEGIN{print a/b}')"
