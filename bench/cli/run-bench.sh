#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Program + verify of every catalogue device through korvalin-cli on the simulated programmer's
# real-time model. For each device it prints the least time the model allows (the chip's own
# programming times and the programmer's waits, plus one USB round trip per exchange) against
# the time the run really took from the Program button to the end of its verify.
#
#   run-bench.sh [CLI] [CATALOGUE]
set -uo pipefail
source "$(dirname "$0")/bench-env.sh" "$@"
hex="$here/bench-image.hex"

printf '%-12s %9s %12s %12s %9s\n' device exchanges bound-ms measured-ms overhead
worst=0
while IFS= read -r device; do
    [[ -z "$device" ]] && continue
    line=$("$cli" -q --sim-stats --catalogue "$catalogue" -d "$device" --sim "$device,realtime" \
        program "$hex" 2>&1)
    status=$?
    stats=$(grep '^sim-stats:' <<<"$line")
    if [[ $status -ne 0 || -z "$stats" ]]; then
        printf '%-12s %s\n' "$device" "not measured (exit $status: $(grep -v '^sim-stats' <<<"$line" | tail -n 1))"
        continue
    fi
    exchanges=$(sed -E 's/.*exchanges ([0-9]+),.*/\1/' <<<"$stats")
    bound=$(sed -E 's/.*bound ([0-9.]+) ms.*/\1/' <<<"$stats")
    measured=$(sed -E 's/.*measured ([0-9.]+) ms.*/\1/' <<<"$stats")
    overhead=$(awk -v a="$measured" -v b="$bound" 'BEGIN { printf "%.2f", (a - b) * 100 / b }')
    printf '%-12s %9s %12.1f %12.1f %8s%%\n' "$device" "$exchanges" "$bound" "$measured" "$overhead"
    worst=$(awk -v a="$overhead" -v b="$worst" 'BEGIN { print (a > b) ? a : b }')
done < <(grep -v '^;' "$catalogue" | cut -f1)
echo "worst overhead: $worst% (target: within 2%)"
