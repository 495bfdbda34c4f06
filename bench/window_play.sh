#!/usr/bin/env bash
# The player window playing a recording in real time at 1x, next to
# `dravik-tool play` of the same file (the engine without a window): CPU of
# one core over the recording's length, pictures shown, and the largest skew
# between channels showing the same time stamp. The window runs on Qt's
# offscreen platform (painting its panes as on a screen) with SDL's dummy
# sound driver.
#
#   bench/window_play.sh [SECONDS] [BUILD_DIR]     (a recording of SECONDS [20] s;
#                                                   BUILD_DIR [build/release])
# Settings from the environment: WIDTH, HEIGHT [1280, 720], CHANNELS [12],
# CONTENT [textured], BITRATE [2M], LAYOUT [12: panes shown], SAMPLES (a
# folder to keep the recording in between runs).
set -euo pipefail
seconds=${1:-20}
width=${WIDTH:-1280}
height=${HEIGHT:-720}
channels=${CHANNELS:-12}
content=${CONTENT:-textured}
bitrate=${BITRATE:-2M}
layout=${LAYOUT:-12}
samples=${SAMPLES:+$(realpath -m "$SAMPLES")}
cd "$(dirname "$0")/.."
build=${2:-build/release}
fps=25
frames=$((channels * seconds * fps))

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$build" --target dravik-tool Dravik >/dev/null
tool="$build/cli/dravik-tool"
player="$build/app/Dravik"

name="window-${channels}x${width}x${height}-${content}-${bitrate}-${seconds}s"
set_dir=${samples:+$samples/$name}
set_dir=${set_dir:-$work/$name}
if [ ! -e "$set_dir/complete" ]; then
  rm -rf "$set_dir"
  mkdir -p "$set_dir"
  "$tool" mksample "$set_dir" --channels "$channels" --seconds "$seconds" --groups 1 --width "$width" \
    --height "$height" --fps "$fps" --audio none --content "$content" --bitrate "$bitrate" >/dev/null
  touch "$set_dir/complete"
fi
qvv=$(ls "$set_dir"/*.qvv)
printf 'recording   %d x %dx%d %s at %s, %d s, %d pictures\n' "$channels" "$width" "$height" "$content" "$bitrate" \
  "$seconds" "$frames"

share() { awk -v s="$seconds" '{printf "%.0f", ($1 + $2) / s * 100}' "$1"; }
largest() { sed -n 's/.*max_skew_ms=\([0-9]*\).*/\1/p' "$1" | sort -n | tail -1; }
shown() { sed -n 's/^channel=.*shown=\([0-9]*\).*/\1/p;s/^ *channel.* shown=\([0-9]*\).*/\1/p' "$1" | awk '{s += $1} END {print s + 0}'; }

/usr/bin/env time -f "%U %S %e" -o "$work/tool.time" "$tool" play "$qvv" >"$work/tool.txt"
printf 'dravik-tool play   %3s%% of a core, %s of %d pictures shown, largest skew %s ms\n' \
  "$(share "$work/tool.time")" "$(shown "$work/tool.txt")" "$frames" "$(largest "$work/tool.txt")"

mkdir -p "$work/home"
printf '[Setting]\r\nLanguage=English\r\n[ScreenConfig]\r\nScreenNum=%s\r\n' "$layout" >"$work/home/setting.ini"
# Long enough for the whole recording: start, the decoders' start and the end.
QT_QPA_PLATFORM=offscreen SDL_AUDIODRIVER=dummy /usr/bin/env time -f "%U %S %e" -o "$work/window.time" \
  "$player" --home "$work/home" "$qvv" --play-stats --screenshot "$work/window.png" --after $((seconds + 4)) \
  >"$work/window.txt" 2>"$work/window.err"
printf 'Dravik window      %3s%% of a core, %s of %d pictures shown, largest skew %s ms (%s panes)\n' \
  "$(share "$work/window.time")" "$(shown "$work/window.txt")" "$frames" "$(largest "$work/window.txt")" "$layout"
awk -v a="$(share "$work/tool.time")" -v b="$(share "$work/window.time")" \
  'BEGIN{printf "the window adds %d%% of a core\n", b - a}'
