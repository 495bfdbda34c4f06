#!/usr/bin/env bash
# dravik-tool backup next to cp: the same recordings (about 2 GB: copies of
# one generated 100 MB AVI recording under recorder names, a folder a day)
# copied into a fresh folder on the same file system. The backup's time is
# the whole command: the scan, the copy, the flush to the disk and reading
# every copy back for its checksum. cp is timed alone and followed by sync
# (what the backup's flush costs cp). Every run starts with the sources in
# the page cache and no dirty data waiting.
#
#   bench/backup.sh [FILES] [BUILD_DIR] [WORK_DIR]
#     FILES [20] copies of 100 MB; BUILD_DIR [build/release]; WORK_DIR [a
#     new folder under ${TMPDIR:-/tmp}], removed afterwards
#   ROUNDS=[5] rounds of each
# Goal: backup at 90 % of cp's speed or better (ratio = cp / backup >= 0.90).
set -euo pipefail
files=${1:-20}
cd "$(dirname "$0")/.."
build=${2:-build/release}
work=$(mktemp -d "${3:-${TMPDIR:-/tmp}}/dravik-backup-bench-XXXXXX")
trap 'rm -rf "$work"' EXIT
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$build" --target dravik-tool >/dev/null
tool="$build/cli/dravik-tool"

# One real recording of 20 s of textured 720p at 40 Mbit/s (about 100 MB),
# copied under FILES names 20 s apart, alternating between two day folders.
"$tool" mksample "$work/one" --format avi --channels 1 --seconds 20 --groups 1 --width 1280 --height 720 \
  --content textured --bitrate 40M --audio none >/dev/null
sample=$(ls "$work"/one/*.avi | head -1)
for ((i = 0; i < files; i++)); do
  day=$((15 + i % 2))
  stamp=$(date -u -d "2024-03-$day 08:00:00 UTC + $((20 * i)) seconds" +%Y%m%d%H%M%S)
  mkdir -p "$work/records/202403$day"
  cp "$sample" "$work/records/202403$day/${stamp}_0100_01.avi"
done
rm -rf "$work/one"
bytes=$(du -sb "$work/records" | cut -f1)
cat "$work"/records/*/*.avi >/dev/null  # in the page cache
sync

now() { date +%s.%N; }
elapsed() { awk -v a="$1" -v b="$2" 'BEGIN{printf "%.3f", b-a}'; }
fresh() { rm -rf "$work/out"; sync; }

run_backup() {
  fresh
  local t0 t1
  t0=$(now)
  "$tool" backup --from "$work/records" --to "$work/out" >"$work/backup.txt"
  t1=$(now)
  tail -1 "$work/backup.txt" | grep -qx "copied=$files skipped=0 failed=0" || { cat "$work/backup.txt" >&2; exit 1; }
  backup_s=$(elapsed "$t0" "$t1")
}
run_cp() {
  fresh
  mkdir "$work/out"
  local t0 t1 t2
  t0=$(now)
  cp "$work"/records/*/*.avi "$work/out/"
  t1=$(now)
  sync
  t2=$(now)
  cp_s=$(elapsed "$t0" "$t1")
  cp_sync_s=$(elapsed "$t0" "$t2")
}

# On a virtual machine, memory the guest has not used before costs the host
# a fault the first time it is touched, whoever touches it: one untimed copy
# first, so that no round pays for it.
fresh
mkdir "$work/out"
cp "$work"/records/*/*.avi "$work/out/"

# Rounds alternate which goes first; the machine's other work shows in the
# spread: medians and bests are both printed.
rounds=${ROUNDS:-5}
backups="" cps="" cp_syncs=""
for ((round = 1; round <= rounds; round++)); do
  if ((round % 2)); then run_backup; run_cp; else run_cp; run_backup; fi
  echo "round $round: backup ${backup_s}s cp ${cp_s}s cp+sync ${cp_sync_s}s"
  backups+="$backup_s"$'\n' cps+="$cp_s"$'\n' cp_syncs+="$cp_sync_s"$'\n'
done
fresh
stat() { printf '%s' "$1" | sort -n | awk -v what="$2" '{v[NR] = $1} END {
  if (what == "best") print v[1]; else print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }
for what in median best; do
  b=$(stat "$backups" $what) c=$(stat "$cps" $what) cs=$(stat "$cp_syncs" $what)
  printf '%s of %d: files=%d bytes=%d backup_seconds=%s cp_seconds=%s cp_sync_seconds=%s ratio=%.2f ratio_with_sync=%.2f\n' \
    "$what" "$rounds" "$files" "$bytes" "$b" "$c" "$cs" "$(awk -v a="$c" -v b="$b" 'BEGIN{print a/b}')" \
    "$(awk -v a="$cs" -v b="$b" 'BEGIN{print a/b}')"
done
