#!/usr/bin/env bash
# Reading large AVI and FLV files: dravik-tool packets next to ffprobe
# -show_packets on the same file (packets/s, MB/s, ratio), and cutting a clip:
# dravik-tool clip next to ffmpeg -c copy of the same range.
#   bench/containers.sh [BUILD_DIR]     (default build/release; builds dravik-tool)
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build/release}
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DDRAVIK_TESTS=OFF -DDRAVIK_BENCH=OFF >/dev/null
cmake --build "$build" --target dravik-tool >/dev/null
tool="$build/cli/dravik-tool"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

now() { date +%s.%N; }
elapsed() { awk -v a="$1" -v b="$2" 'BEGIN{printf "%.3f", b-a}'; }

# 20 s of 720p H.264 (4 Mbit/s) with audio, looped 100 times by stream copy: 33 minutes.
ffmpeg -v error -f lavfi -i testsrc=size=1280x720:rate=25:duration=20 -f lavfi -i sine=r=8000:d=20 \
  -c:v libx264 -preset ultrafast -pix_fmt yuv420p -g 25 -bf 0 -b:v 4M -c:a adpcm_ms -ac 1 "$work/base.avi"
ffmpeg -v error -f lavfi -i testsrc=size=1280x720:rate=25:duration=20 -f lavfi -i sine=r=44100:d=20 \
  -c:v libx264 -preset ultrafast -pix_fmt yuv420p -g 25 -bf 0 -b:v 4M -c:a aac "$work/base.flv"
for ext in avi flv; do
  ffmpeg -v error -stream_loop 99 -i "$work/base.$ext" -c copy "$work/big.$ext"
done

printf '%-5s %9s %10s %12s %12s %12s %8s\n' file MB packets "ours s" "ffprobe s" "ours pkt/s" ratio
for ext in avi flv; do
  f="$work/big.$ext"
  mb=$(awk -v s="$(stat -c %s "$f")" 'BEGIN{printf "%.0f", s/1048576}')
  cat "$f" >/dev/null  # page cache
  t0=$(now); packets=$("$tool" packets "$f" | grep -vc '^#'); t1=$(now)
  ffprobe -v error -show_packets "$f" >/dev/null; t2=$(now)
  ours=$(elapsed "$t0" "$t1"); theirs=$(elapsed "$t1" "$t2")
  printf '%-5s %9s %10s %12s %12s %12.0f %7.2fx\n' "$ext" "$mb" "$packets" "$ours" "$theirs" \
    "$(awk -v p="$packets" -v t="$ours" 'BEGIN{print p/t}')" "$(awk -v a="$theirs" -v b="$ours" 'BEGIN{print a/b}')"
done

echo
printf '%-5s %12s %14s %8s\n' clip "ours s" "ffmpeg copy s" ratio
for ext in avi flv; do
  f="$work/big.$ext"
  t0=$(now); "$tool" clip "$f" --from 100 --to 400 "$work/ours-$ext.avi" >/dev/null; t1=$(now)
  bsf=""; [ "$ext" = flv ] && bsf="-bsf:v h264_mp4toannexb"
  ffmpeg -v error -ss 100 -to 400 -i "$f" -c copy $bsf -y "$work/ffmpeg-$ext.avi"; t2=$(now)
  ours=$(elapsed "$t0" "$t1"); theirs=$(elapsed "$t1" "$t2")
  printf '%-5s %12s %14s %7.2fx\n' "$ext" "$ours" "$theirs" "$(awk -v a="$theirs" -v b="$ours" 'BEGIN{print a/b}')"
done
