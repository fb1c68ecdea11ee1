#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# The production line's own cost on the simulated programmer's real-time model: the time each
# chip of `program --repeat` takes beyond its program and verify (the prompt and its answer,
# the outputs' safe state, the serial and the log line), and check-catalogue on the shipped
# catalogue. Medians of several runs; the machine's load shows in the spread.
#
#   production-bench.sh [CLI] [CATALOGUE]
set -uo pipefail
source "$(dirname "$0")/bench-env.sh" "$@"
hex="$here/../../data/examples/blink-16f628a.hex"
# The fast schedule keeps a chip near a second on the real-time model (the standard one takes
# half a minute for this file), so that the run's own cost is not lost in the spread.
chips=6
runs=3

median() { sort -n | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }
now_ms() { echo $(( $(date +%s%N) / 1000000 )); }

# chips N: wall time of a whole --repeat run of N chips, answers ready on standard input.
repeat_ms() {
    yes '' | head -n "$1" >"$work/answers.txt"
    rm -f "$work/log.csv" "$work/next.txt"
    local started
    started=$(now_ms)
    "$cli" -q --catalogue "$catalogue" -d PIC16F628A --sim "PIC16F628A,realtime,tray=$chips" program "$hex" --fast \
        --repeat --count "$1" --serial-file "$work/next.txt" --log "$work/log.csv" \
        <"$work/answers.txt" >/dev/null 2>&1 || { echo "repeat run failed" >&2; exit 1; }
    echo $(( $(now_ms) - started ))
}

chain=$(for _ in $(seq $runs); do
    "$cli" -q --sim-stats --catalogue "$catalogue" -d PIC16F628A --sim "PIC16F628A,realtime" program "$hex" --fast 2>&1 |
        sed -nE 's/^sim-stats:.*measured ([0-9.]+) ms.*/\1/p'
done | median)
one=$(for _ in $(seq $runs); do repeat_ms 1; done | median)
many=$(for _ in $(seq $runs); do repeat_ms $chips; done | median)
per_chip=$(awk -v a="$many" -v b="$one" -v n="$chips" 'BEGIN { printf "%.1f", (a - b) / (n - 1) }')
beyond=$(awk -v p="$per_chip" -v c="$chain" 'BEGIN { printf "%.1f", p - c }')
echo "program + verify (PIC16F628A, blink, --fast): $chain ms"
echo "--repeat, per chip: $per_chip ms; beyond program + verify: $beyond ms (target: under 50 ms)"

startup=$(for _ in $(seq 10); do s=$(now_ms); "$cli" --version >/dev/null; echo $(( $(now_ms) - s )); done | median)
check=$(for _ in $(seq 10); do
    s=$(now_ms); "$cli" check-catalogue "$catalogue" >/dev/null; echo $(( $(now_ms) - s ))
done | median)
echo "check-catalogue: $check ms whole process, $startup ms of it starting the process (target: under 20 ms)"
