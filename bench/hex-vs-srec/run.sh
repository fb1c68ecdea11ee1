#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Converts the largest HEX image (8192 words + 256 EEPROM bytes + configuration) with our reader
# and writer and with srec_cat, whole process against whole process, and prints the ratio.
#   bench/hex-vs-srec/run.sh [BUILD_DIR] [REPEATS]
# BUILD_DIR holds bin/korvalin-hexconvert (default build/default); REPEATS defaults to 200.
set -euo pipefail
cd "$(dirname "$0")/../.."
build=${1:-build/default}
repeats=${2:-200}
convert=$build/bin/korvalin-hexconvert
[[ -x $convert ]] || { echo "no $convert: build the device benchmarks first" >&2; exit 1; }
command -v srec_cat >/dev/null || { echo "srec_cat not found (Debian package srecord)" >&2; exit 1; }

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
"$convert" --generate "$work/in.hex"
echo "input: $(wc -l <"$work/in.hex") records, $(wc -c <"$work/in.hex") bytes"

# Both must read back the same image before their speeds mean anything.
"$convert" "$work/in.hex" "$work/ours.hex"
srec_cat -Disable_Sequence_Warnings "$work/in.hex" -intel -o "$work/srec.hex" -intel
"$convert" "$work/srec.hex" "$work/srec-back.hex"
cmp -s "$work/ours.hex" "$work/srec-back.hex" || { echo "the two conversions differ" >&2; exit 1; }

# "wall cpu" seconds for $repeats runs of the command; CPU time (user + system) is the steadier
# figure on a busy machine.
seconds() {
    local TIMEFORMAT='%R %U %S' times wall user system
    times=$( { time for ((i = 0; i < repeats; i++)); do "$@"; done; } 2>&1 )
    read -r wall user system <<<"$times"
    echo "$wall $(echo "$user + $system" | bc -l)"
}

# srec_cat does not flush its output to the disk; our saves do, which on a real disk costs more
# than the whole conversion. The like-for-like figure leaves the flush out; both are shown.
read -r ours ours_cpu <<<"$(seconds "$convert" --no-sync "$work/in.hex" "$work/ours.hex")"
read -r flushed flushed_cpu <<<"$(seconds "$convert" "$work/in.hex" "$work/ours.hex")"
read -r theirs theirs_cpu <<<"$(seconds srec_cat -Disable_Sequence_Warnings "$work/in.hex" -intel -o "$work/srec.hex" -intel)"
ms() { echo "$1 * 1000 / $repeats" | bc -l; }
printf '%-30s %8s %8s   (ms per conversion, %d runs)\n' "" wall cpu "$repeats"
printf '%-30s %8.3f %8.3f\n' "korvalin-hexconvert --no-sync" "$(ms "$ours")" "$(ms "$ours_cpu")"
printf '%-30s %8.3f %8.3f\n' "korvalin-hexconvert (flushed)" "$(ms "$flushed")" "$(ms "$flushed_cpu")"
printf '%-30s %8.3f %8.3f\n' "srec_cat" "$(ms "$theirs")" "$(ms "$theirs_cpu")"
printf 'ratio srec_cat / ours, like for like: wall %.2f, cpu %.2f\n' \
    "$(echo "$theirs / $ours" | bc -l)" "$(echo "$theirs_cpu / $ours_cpu" | bc -l)"
printf 'ratio srec_cat / ours, ours flushed:  wall %.2f, cpu %.2f\n' \
    "$(echo "$theirs / $flushed" | bc -l)" "$(echo "$theirs_cpu / $flushed_cpu" | bc -l)"
