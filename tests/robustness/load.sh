#!/usr/bin/env bash
# Runs COUNT commands through one hostbatch process (--keep-going): ten kinds in
# turn, half of them failing in different ways, and prints the process's peak
# memory. With --check, also fails unless exactly half failed, each with one
# error line, and nothing reached standard error (a sanitizer report included).
# Usage: load.sh HOSTBATCH PLUGIN SAMPLES WORK_FOLDER COUNT [--check]
set -euo pipefail
hostbatch="$1" plugin="$2" samples="$3" work="$4" count="$5" check="${6:-}"

list_folder="$work/F:/Dovrin's Documents/My Images"
rm -rf "$work"
mkdir -p "$work/images" "$list_folder/Resized"
"$samples" "$work/images" >/dev/null
printf 'tiles.png badge.png\n' >"$list_folder/DIRlist.txt"
head -c 300 "$work/images/sunset.png" >"$work/images/cut.png"
head -c 2000 /dev/urandom >"$work/images/noise.iff"

kinds=(
  'queryFunction -f "images/tiles.png" -qX'
  'depthFunction -f "images/tiles.png" -x 5 -y 5'
  'averageFunction -f "images/badge.png" -g'
  'resizeFunction -folder "images/" -size 64 -number 3'
  'queryFunction -f "images/sunset.png" -qY'
  'queryFunction -f "images/missing.png" -qY'
  'depthFunction -f "images/cut.png"'
  'averageFunction -f "images/tiles.png" -x 0'
  'queryFunction -f "images/noise.iff" -qX -qZ'
  'resizeFunction -folder "images/" -size 0 -number 2'
)
for ((i = 0; i < count; ++i)); do
  echo "${kinds[i % ${#kinds[@]}]};"
done >"$work/load.mel"

cd "$work"
status=0
/usr/bin/time -f '%M' -o peak.txt "$hostbatch" --plugin "$plugin" --keep-going load.mel >out.txt 2>err.txt || status=$?
errors=$(grep -c '^// Error: ' out.txt || true)
echo "commands=$count peak_rss_kb=$(tail -n 1 peak.txt) errors=$errors exit=$status"

if [ "$check" = "--check" ]; then
  expected=$((count / ${#kinds[@]} * 5 + (count % ${#kinds[@]} > 5 ? count % ${#kinds[@]} - 5 : 0)))
  [ "$status" -eq 1 ] || { echo "hostbatch exited with $status, expected 1" >&2; cat err.txt >&2; exit 1; }
  [ "$errors" -eq "$expected" ] || { echo "$errors error lines, expected $expected" >&2; exit 1; }
  [ ! -s err.txt ] || { echo "standard error was not empty:" >&2; head -n 40 err.txt >&2; exit 1; }
fi
