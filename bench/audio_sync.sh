#!/usr/bin/env bash
# A channel's sound against its pictures at 1x on the real clock: a 4-channel
# recording with sync marks (a white picture and a 1 kHz beep at every whole
# second), played with channel 2's sound into a WAV file at a sound card's
# pace; prints the offset of every mark's picture from its beep, their median
# and largest, and how long the sound played against the recording.
#
#   bench/audio_sync.sh [SECONDS] [BUILD_DIR]     (recording of SECONDS [60] s;
#                                                  BUILD_DIR [build/release])
# WIDTH, HEIGHT (default 640 x 360) and CHANNELS (4) from the environment.
set -euo pipefail
seconds=${1:-60}
cd "$(dirname "$0")/.."
build=${2:-build/release}
width=${WIDTH:-640}
height=${HEIGHT:-360}
channels=${CHANNELS:-4}
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DDRAVIK_TESTS=OFF -DDRAVIK_BENCH=OFF >/dev/null
cmake --build "$build" --target dravik-tool >/dev/null
tool="$build/cli/dravik-tool"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
file=$("$tool" mksample "$work" --channels "$channels" --seconds "$seconds" --groups 1 \
  --width "$width" --height "$height" --sync-marks | head -1)
"$tool" play "$file" --audio-channel 2 --wav "$work/sound.wav" >"$work/out" 2>"$work/err"
grep '^audio ' "$work/out"
grep 'sync marks' "$work/err" || true
wav_bytes=$(stat -c %s "$work/sound.wav")
echo "recording ${seconds} s, ${channels} x ${width}x${height}; WAV $(awk -v b="$wav_bytes" 'BEGIN{printf "%.3f", (b-44)/96000}') s"
