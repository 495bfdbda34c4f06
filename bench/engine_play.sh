#!/usr/bin/env bash
# The engine on up to 12 channels of H.264 against FFmpeg on the same streams:
#  - throughput: dravik-tool play at speed 32 (the fastest that shows every
#    picture: above it only key frames are shown; no drawing) next to ffmpeg
#    -threads 1 decoding each channel to null, one after the other; CPU
#    seconds and wall time of both, CPU ratio ours/ffmpeg;
#  - real time: all channels at 1x: CPU share (of one core), pictures shown of
#    all, the largest skew between channels, CPU ratio against the same ffmpeg.
#
#   bench/engine_play.sh [SECONDS] [BUILD_DIR]     (recordings of SECONDS [20] s;
#                                                   BUILD_DIR [build/release])
#
# Settings from the environment (defaults in brackets):
#   WIDTH, HEIGHT  picture size [1280, 720], 25 pictures a second
#   CHANNELS       channels [12]
#   CONTENT        plain or textured [plain]: plain pictures decode about four
#                  times faster than a camera's; textured ones cost what real
#                  footage costs at their bit rate
#   BITRATE        video bits a second, e.g. 2M or 4000k [plain: constant
#                  quality; textured: 2M at 720p25, in proportion to pixels]
#   TOOL           the dravik-tool to measure [BUILD_DIR's, built from this tree]
#   CONTAINER      qvv (one file) or avi (a file per channel) [qvv]
#   SAMPLES        a folder to keep the recordings in: a later run with the same
#                  settings plays the same files instead of making new ones
# Recordings are always made by this tree's dravik-tool (one QVV file for the
# engine; its channels copied packet for packet into AVI files for ffmpeg), so
# an older build can be measured on them.
#
# An older build against this one, 12 x 720p25 at 2 Mbit/s and 12 x 1080p25 at
# 4 Mbit/s, on the same files:
#   export SAMPLES=/tmp/dravik-samples CONTENT=textured
#   BITRATE=2M bench/engine_play.sh
#   BITRATE=2M TOOL=/path/to/old/dravik-tool bench/engine_play.sh
#   WIDTH=1920 HEIGHT=1080 BITRATE=4M bench/engine_play.sh
#   WIDTH=1920 HEIGHT=1080 BITRATE=4M TOOL=/path/to/old/dravik-tool bench/engine_play.sh
set -euo pipefail
seconds=${1:-20}
width=${WIDTH:-1280}
height=${HEIGHT:-720}
channels=${CHANNELS:-12}
content=${CONTENT:-plain}
bitrate=${BITRATE:-}
tool=${TOOL:+$(realpath "$TOOL")}
samples=${SAMPLES:+$(realpath -m "$SAMPLES")}
cd "$(dirname "$0")/.."
build=${2:-build/release}
fps=25
frames=$((channels * seconds * fps))

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
built=""
build_tool() {
  if [ -z "$built" ]; then
    cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DDRAVIK_TESTS=OFF -DDRAVIK_BENCH=OFF >/dev/null
    cmake --build "$build" --target dravik-tool >/dev/null
    built="$build/cli/dravik-tool"
  fi
}

# The recordings: made once per settings when SAMPLES is set.
name="${channels}x${width}x${height}-${content}-${bitrate:-default}-${seconds}s"
set_dir=${samples:+$samples/$name}
set_dir=${set_dir:-$work/$name}
if [ ! -e "$set_dir/complete" ]; then
  build_tool
  rm -rf "$set_dir.part"
  mkdir -p "$set_dir.part"
  "$built" mksample "$set_dir.part/qvv" --channels "$channels" --seconds "$seconds" --groups 1 --width "$width" \
    --height "$height" --fps "$fps" --audio none --content "$content" ${bitrate:+--bitrate "$bitrate"} >/dev/null
  qvv=$(ls "$set_dir.part"/qvv/*.qvv)
  mkdir "$set_dir.part/avi"
  for ((c = 0; c < channels; c++)); do
    "$built" clip "$qvv" --from 0 --to "$seconds" --stream "$c" "$set_dir.part/avi/$(printf %02d $((c + 1))).avi" \
      >/dev/null 2>&1
  done
  touch "$set_dir.part/complete"
  rm -rf "$set_dir"
  mv "$set_dir.part" "$set_dir"
fi
qvv=$(ls "$set_dir"/qvv/*.qvv)
container=${CONTAINER:-qvv}
if [ "$container" = avi ]; then
  inputs=("$set_dir"/avi/*.avi)
else
  inputs=("$qvv")
fi
if [ -z "$tool" ]; then
  build_tool
  tool=$built
fi
mbit=$(awk -v b="$(stat -c %s "$qvv")" -v n="$channels" -v s="$seconds" 'BEGIN{printf "%.2f", b * 8 / n / s / 1e6}')
printf 'streams     %d x %dx%d %s, %s Mbit/s a channel, %d s, %d pictures, %s; %s\n' "$channels" "$width" "$height" \
  "$content" "$mbit" "$seconds" "$frames" "$container" "$tool"

cpu() { awk '{print $1 + $2}' "$1"; }
ratio() { awk -v a="$1" -v b="$2" 'BEGIN{printf "%.2f", a / b}'; }

/usr/bin/env time -f "%U %S %e" -o "$work/ours.time" "$tool" play "${inputs[@]}" --speed 32 >"$work/fast.txt"
: >"$work/ffmpeg.time"
for f in "$set_dir"/avi/*.avi; do
  /usr/bin/env time -f "%U %S %e" -a -o "$work/ffmpeg.time" ffmpeg -v error -threads 1 -i "$f" -f null -
done
ours_cpu=$(cpu "$work/ours.time")
ours_wall=$(awk '{print $3}' "$work/ours.time")
ffmpeg_cpu=$(awk '{s += $1 + $2} END {print s}' "$work/ffmpeg.time")
ffmpeg_wall=$(awk '{s += $3} END {print s}' "$work/ffmpeg.time")
printf 'throughput  ours (play --speed 32): %.1f s wall, %.1f CPU s (%.0f pictures/s)   ffmpeg -threads 1: %.1f s wall, %.1f CPU s (%.0f pictures/CPU s)   CPU ratio ours/ffmpeg %s\n' \
  "$ours_wall" "$ours_cpu" "$(awk -v f="$frames" -v w="$ours_wall" 'BEGIN{print f / w}')" \
  "$ffmpeg_wall" "$ffmpeg_cpu" "$(awk -v f="$frames" -v c="$ffmpeg_cpu" 'BEGIN{print f / c}')" \
  "$(ratio "$ours_cpu" "$ffmpeg_cpu")"

/usr/bin/env time -f "%U %S %e" -o "$work/rt.time" "$tool" play "${inputs[@]}" >"$work/rt.txt"
skew=$(sed -n 's/.*max_skew_ms=\([0-9]*\).*/\1/p' "$work/rt.txt" | sort -n | tail -1)
shown=$(sed -n 's/.*shown=\([0-9]*\).*/\1/p' "$work/rt.txt" | awk '{s += $1} END {print s + 0}')
rt_cpu=$(cpu "$work/rt.time")
printf 'real time   %d channels x %d s at 1x: %.0f%% CPU (of one core), %s of %d pictures shown, largest skew %s ms, CPU ratio ours/ffmpeg %s\n' \
  "$channels" "$seconds" "$(awk '{print ($1 + $2) / $3 * 100}' "$work/rt.time")" "$shown" "$frames" "${skew:-?}" \
  "$(ratio "$rt_cpu" "$ffmpeg_cpu")"
