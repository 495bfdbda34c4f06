#!/usr/bin/env bash
# The engine on 12 channels of 720p25 H.264:
#  - throughput: dravik-tool play at speed 256 (as fast as the clock allows, no
#    drawing) next to ffmpeg -threads 4 decoding the same 12 streams to null;
#  - real time: 12 channels at 1x, CPU share and the largest skew between channels.
#   bench/engine_play.sh [SECONDS] [BUILD_DIR]     (default 20 s, build/release)
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-20}
build=${2:-build/release}
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DDRAVIK_TESTS=OFF -DDRAVIK_BENCH=OFF >/dev/null
cmake --build "$build" --target dravik-tool >/dev/null
tool="$build/cli/dravik-tool"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
# The same pictures as one QVV file (for the engine) and as 12 AVI files (for ffmpeg).
"$tool" mksample "$work/qvv" --channels 12 --seconds "$seconds" --groups 1 --width 1280 --height 720 --audio none >/dev/null
"$tool" mksample "$work/avi" --format avi --channels 12 --seconds "$seconds" --groups 1 --width 1280 --height 720 --audio none >/dev/null
qvv=$(ls "$work"/qvv/*.qvv)
frames=$((12 * seconds * 25))

cpu() { awk '{print $1 + $2}' "$1"; }
/usr/bin/env time -f "%U %S %e" -o "$work/ours.time" "$tool" play "$qvv" --speed 256 >"$work/fast.txt"
: >"$work/ffmpeg.time.all"
t0=$(date +%s.%N)
for f in "$work"/avi/*.avi; do
  /usr/bin/env time -f "%U %S %e" -a -o "$work/ffmpeg.time.all" ffmpeg -v error -threads 4 -i "$f" -f null -
done
t1=$(date +%s.%N)
ours_cpu=$(cpu "$work/ours.time"); ours_wall=$(awk '{print $3}' "$work/ours.time")
ffmpeg_cpu=$(awk '{s += $1 + $2} END {print s}' "$work/ffmpeg.time.all")
ffmpeg_wall=$(awk -v a="$t0" -v b="$t1" 'BEGIN{print b-a}')
printf 'throughput  %d frames  ours: %.1f s wall, %.1f CPU s (%.0f fps)   ffmpeg -threads 4: %.1f s wall, %.1f CPU s   CPU ratio %.2f\n' \
  "$frames" "$ours_wall" "$ours_cpu" "$(awk -v f="$frames" -v w="$ours_wall" 'BEGIN{print f/w}')" \
  "$ffmpeg_wall" "$ffmpeg_cpu" "$(awk -v a="$ours_cpu" -v b="$ffmpeg_cpu" 'BEGIN{print a/b}')"

/usr/bin/env time -f "%U %S %e" -o "$work/rt.time" "$tool" play "$qvv" >"$work/rt.txt"
skew=$(sed -n 's/.*max_skew_ms=\([0-9]*\).*/\1/p' "$work/rt.txt" | sort -n | tail -1)
shown=$(sed -n 's/.*shown=\([0-9]*\).*/\1/p' "$work/rt.txt" | awk '{s += $1} END {print s}')
printf 'real time   12 channels x %d s at 1x: %.0f%% CPU (of one core), %d of %d pictures shown, largest skew %d ms\n' \
  "$seconds" "$(awk '{print ($1 + $2) / $3 * 100}' "$work/rt.time")" "$shown" "$frames" "$skew"
