#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# How long `korvalin-cli --version` takes from exec to exit, the whole process (dynamic
# loading included): the first thing a script or the bash completion runs. Target: under 20 ms.
#
#   version-bench.sh [CLI] [RUNS]
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
cli=${1:-$here/../../build/default/bin/korvalin-cli}
runs=${2:-100}
XDG_CONFIG_HOME=$(mktemp -d)
export XDG_CONFIG_HOME
trap 'rm -rf "$XDG_CONFIG_HOME"' EXIT

"$cli" --version >/dev/null || { echo "$cli --version failed"; exit 1; }
TIMEFORMAT=%3R
times=()
for ((i = 0; i < runs; i++)); do
    times+=("$({ time "$cli" --version >/dev/null; } 2>&1)")
done
printf '%s\n' "${times[@]}" | sort -n | awk -v runs="$runs" '
    { ms[NR] = $1 * 1000 }
    END {
        median = ms[int((NR + 1) / 2)]
        printf "korvalin-cli --version, %d runs: min %.1f ms, median %.1f ms, 90%% %.1f ms (target: under 20 ms)\n",
               runs, ms[1], median, ms[int(NR * 0.9)]
        exit median < 20 ? 0 : 1
    }'
