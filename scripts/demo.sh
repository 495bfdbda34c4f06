#!/usr/bin/env bash
# The main job: builds the player (Release, Ninja), writes a folder of sample
# recordings (all four kinds, a folder a day: real H.264, the recorder's
# voice, GPS, G-sensor and analysis-overlay records, sync marks) and opens
# Dravik on it, playing the first group. With a display the window stays until
# you close it; without one the player runs under Xvfb (else on Qt's offscreen
# platform), plays 10 s, saves a picture of its window and prints its path.
#   scripts/demo.sh          the player
#   scripts/demo.sh --cli    dravik-tool on the same samples: what is in them, a
#                            clip, a snapshot, the playback engine forwards and
#                            backwards, a voice-codec round trip (WAV files),
#                            then a picture of the player's window
set -euo pipefail
cd "$(dirname "$0")/.."
mode=${1:-player}
case "$mode" in
  player | --cli) ;;
  *) echo "usage: scripts/demo.sh [--cli]" >&2; exit 2 ;;
esac
build=${DRAVIK_BUILD:-build/release}  # DRAVIK_BUILD: another build folder
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DDRAVIK_TESTS=OFF -DDRAVIK_BENCH=OFF >/dev/null
cmake --build "$build" --target dravik-tool voxcore Dravik
tool="$build/cli/dravik-tool"
out="$build/demo"
rm -rf "$out"
mkdir -p "$out"

echo "== sample recordings in $out/samples, a folder a day as the recorder writes them"
day1="$out/samples/20240315" day2="$out/samples/20240316"
"$tool" mksample "$day1" --channels 4 --seconds 12 --groups 2 --sync-marks
"$tool" mksample "$day1" --format avi --channels 2 --seconds 6 --groups 1 --start "2024-03-15 08:10:00"
"$tool" mksample "$day1" --format flv --channels 2 --seconds 6 --groups 1 --start "2024-03-15 08:20:00"
"$tool" mksample "$day2" --format mp4 --channels 2 --seconds 6 --groups 1 --start "2024-03-16 08:30:00"
first=$(ls "$day1"/*.qvv | sed -n 1p)

no_display() { [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; }

# Dravik ARGS... on the display there is, else on a virtual one (Xvfb), else
# on Qt's offscreen platform.
run_player() {
  if ! no_display; then
    "$build/app/Dravik" "$@"
  elif command -v xvfb-run >/dev/null; then
    DRAVIK_DISABLE_GPU=1 xvfb-run -a -s "-screen 0 1280x900x24" "$build/app/Dravik" "$@"
  else
    QT_QPA_PLATFORM=offscreen "$build/app/Dravik" "$@"
  fi
}

if [ "$mode" = player ]; then
  echo
  if no_display; then
    echo "== Dravik lists $out/samples and plays its first group ($(basename "$first")) for 10 s (no display: a virtual one)"
    run_player --home "$out/home" "$out/samples" --play-stats --screenshot "$out/dravik.png" --after 10 \
      > "$out/dravik.txt" 2> "$out/dravik.log" || { cat "$out/dravik.log" >&2; exit 1; }
    grep '^channels=' "$out/dravik.txt" | sed 's/^/pictures shown in the window: /' || true
    echo "the player's window after 10 s: $PWD/$out/dravik.png"
  else
    echo "== Dravik lists $out/samples and plays its first group ($(basename "$first")); close the window to end"
    run_player --home "$out/home" "$out/samples"
  fi
  exit 0
fi

"$tool" --help
echo
echo "== $(basename "$first")"
"$tool" name "$(basename "$first")"
"$tool" probe "$first"
echo "packets per stream:"
"$tool" packets "$first" | grep -v '^#' | awk '{n[$1" "$2]++; k[$1" "$2]+=$4} END {for (s in n) printf "  stream %s: %d packets, %d key\n", s, n[s], k[s]}' | sort -n -k2
echo "first records:"
"$tool" records "$first" | sed -n 1,3p | cut -c1-150
avi=$(ls "$day1"/*.avi | sed -n 1p)
echo "overlay record of $(basename "$avi"):"
"$tool" records "$avi" | grep -m1 ALG | cut -c1-150
"$tool" snapshot "$avi" --channel 0 --at 3 --overlay --out "$out/snapshot.bmp"
"$tool" snapshot "$avi" --channel 0 --at 3 --overlay --pane 480x360 --fit --out "$out/pane.png"
echo "the picture at 3 s with the recorder's analysis drawn in: $out/snapshot.bmp, and as a 480 x 360 pane shows it: $out/pane.png"
"$tool" clip "$first" --from 2 --to 4 "$out/clip.avi"
ffmpeg -v error -y -ss 1 -i "$out/clip.avi" -frames:v 1 "$out/clip-frame.png" && echo "a picture of the clip: $out/clip-frame.png"

echo
echo "== playback engine: $(basename "$first"), 4 channels at 1x with channel 2's sound (into $out/channel2.wav), then backwards at 4x"
"$tool" play "$first" --channels 4 --audio-channel 2 --wav "$out/channel2.wav"
"$tool" play "$first" --channels 4 --reverse --speed 64

echo
echo "== voice codec round trips ($out/*.wav)"
# A voice-like test signal: a gliding tone with a second harmonic, 8 kHz mono.
ffmpeg -v error -y -f lavfi -i "aevalsrc=0.4*sin(2*PI*(200+150*sin(2*PI*0.7*t))*t)+0.2*sin(2*PI*(400+300*sin(2*PI*0.7*t))*t):s=8000:d=3" \
  -ac 1 -f s16le "$out/input.pcm"
in_bytes=$(stat -c %s "$out/input.pcm")
printf '%-6s %-28s %10s %10s  %s\n' type codec "frames(B)" "ratio" "decoded"
for entry in "1:G.711 A-law" "2:G.711 u-law" "35:IMA ADPCM (first sample)" "67:IMA ADPCM (codes only)" \
            "4:G.726 16 kbit/s" "6:G.726 32 kbit/s" "39:G.726 40 kbit/s MSB-first" "68:G.726 16 kbit/s compact"; do
  type=${entry%%:*}; name=${entry#*:}
  "$tool" voice encode --type "$type" < "$out/input.pcm" > "$out/type$type.frames"
  "$tool" voice decode --type "$type" < "$out/type$type.frames" > "$out/type$type.pcm"
  ffmpeg -v error -y -f s16le -ar 8000 -ac 1 -i "$out/type$type.pcm" "$out/type$type.wav"
  bytes=$(stat -c %s "$out/type$type.frames")
  printf '%-6s %-28s %10d %9.2fx  %s\n' "$type" "$name" "$bytes" "$(awk -v a="$in_bytes" -v b="$bytes" 'BEGIN{print a/b}')" "$out/type$type.wav"
done

echo
echo "== the player: Dravik lists $out/samples, plays its first group ($(basename "$first")) with its own home folder ($out/home) and saves a picture of its window after 4.5 s"
run_player --home "$out/home" "$out/samples" --play-stats --screenshot "$out/dravik.png" --after 4.5 \
  > "$out/dravik.txt" 2> "$out/dravik.log" || { cat "$out/dravik.log" >&2; exit 1; }
grep '^channels=' "$out/dravik.txt" | sed 's/^/pictures shown in the window: /' || true
echo "setting.ini: $(tr -d '\r' < "$out/home/setting.ini" | tr '\n' ' ')  languages: $(ls "$out/home/Language" | tr '\n' ' ')"
