#!/usr/bin/env bash
# Runs session.mel through hostbatch with the real plug-in, in a fresh folder with
# the sample images, the list file and the output folder, and compares the whole
# transcript and the exit status with expected.txt.
# Usage: run.sh HOSTBATCH PLUGIN SAMPLES WORK_FOLDER
set -euo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
hostbatch="$1" plugin="$2" samples="$3" work="$4"

images="$work/F:/Dovrin's Documents/My Images"
rm -rf "$work"
mkdir -p "$work/images" "$images/Resized"
"$samples" "$work/images"
printf 'sunset.png\ntiles.png\nbadge.png\nmeadow.jpg\n' >"$images/DIRlist.txt"

cd "$work"
status=0
"$hostbatch" --plugin "$plugin" --keep-going "$here/session.mel" >transcript.txt 2>stderr.txt || status=$?
diff -u "$here/expected.txt" transcript.txt
diff -u /dev/null stderr.txt
[ "$status" -eq 1 ] || { echo "hostbatch exited with $status, expected 1" >&2; exit 1; }
