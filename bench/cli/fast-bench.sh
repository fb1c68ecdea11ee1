#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Program + verify of every catalogue device through korvalin-cli, with the standard schedule
# and with --fast, on a typical simulated chip, against the silicon floor: the longest erase and
# write times the image needs plus one 1 ms USB round trip per 64-byte script the data travels
# in. The image fills the whole program memory and EEPROM with seeded random values, the heavy
# case a bench meets. Times are the simulator's modelled time plus its 1 ms round trip per
# exchange (the "bound" of --sim-stats), so the run takes seconds, not minutes; add ",realtime"
# to SIM_EXTRA to sleep them out as well.
#
#   fast-bench.sh [CLI] [CATALOGUE]
set -uo pipefail
source "$(dirname "$0")/bench-env.sh" "$@"

# Intel HEX of WORDS random 14-bit words and BYTES random EEPROM bytes (at 0x4200).
make_image() {
    awk -v words="$1" -v bytes="$2" 'BEGIN {
        srand(13)
        printf ":020000040000FA\n"
        for (a = 0; a < words; a += 8) record(2 * a, 8, 16383)
        for (a = 0; a < bytes; a += 8) record(16896 + 2 * a, 8, 255)
        print ":00000001FF"
    }
    function record(address, n, mask,    i, v, sum, line) {
        line = sprintf("%02X%04X00", 2 * n, address)
        sum = 2 * n + int(address / 256) + address % 256
        for (i = 0; i < n; i++) {
            v = int(rand() * (mask + 1))
            line = line sprintf("%02X%02X", v % 256, int(v / 256))
            sum += v % 256 + int(v / 256)
        }
        printf ":%s%02X\n", line, (256 - sum % 256) % 256
    }'
}

run() {   # device image extra-options -> the bound in ms, or nothing
    "$cli" -q --sim-stats --catalogue "$catalogue" -d "$1" --sim "$1${SIM_EXTRA:-}" $3 program "$2" 2>&1 |
        sed -nE 's/^sim-stats: .*bound ([0-9.]+) ms.*floor ([0-9.]+) ms.*/\1 \2/p'
}

printf '| %-10s | %12s | %12s | %9s | %11s | %8s |\n' device standard-ms fast-ms floor-ms fast/floor speed-up
printf '|%s|%s|%s|%s|%s|%s|\n' ------------ -------------- -------------- ----------- ------------- ----------
worst=0
while IFS=$'\t' read -r device memory eeprom _; do
    [[ -z "$device" ]] && continue
    image="$work/$device.hex"
    make_image "${memory%%:*}" "$eeprom" >"$image"
    read -r standard _ < <(run "$device" "$image" "")
    read -r fast floor < <(run "$device" "$image" --fast)
    if [[ -z "${standard:-}" || -z "${fast:-}" ]]; then
        printf '| %-10s | not measured |\n' "$device"
        continue
    fi
    ratio=$(awk -v a="$fast" -v b="$floor" 'BEGIN { printf "%.2f", a / b }')
    speedup=$(awk -v a="$standard" -v b="$fast" 'BEGIN { printf "%.1f", a / b }')
    printf '| %-10s | %12.0f | %12.0f | %9.0f | %10s× | %7s× |\n' "$device" "$standard" "$fast" "$floor" "$ratio" "$speedup"
    worst=$(awk -v a="$ratio" -v b="$worst" 'BEGIN { print (a > b) ? a : b }')
done < <(grep -v '^;' "$catalogue")
echo "worst --fast against the floor: ${worst}× (goal: within 1.5×)"
