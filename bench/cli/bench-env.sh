# SPDX-License-Identifier: MIT
# Sourced by the CLI benches with their arguments ([CLI] [CATALOGUE]): sets here (the benches'
# folder), cli and catalogue (by default the default build's), and work, a scratch folder that
# is also the settings folder and goes at exit; no simulator or trace comes from the caller.
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
cli=${1:-$here/../../build/default/bin/korvalin-cli}
catalogue=${2:-$(dirname "$cli")/PicDeviceList.txt}
work=$(mktemp -d)
export XDG_CONFIG_HOME="$work"
trap 'rm -rf "$work"' EXIT
unset KORVALIN_SIM KORVALIN_TRACE
