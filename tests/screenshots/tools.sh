#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# The run script's helpers, as scripts/run calls them:
#   tools.sh remember_device | screenshot_refusals
# Needs REMEMBER and SCREENSHOTS (the two programs) in the environment; ctest sets them. Each
# case has its own XDG_CONFIG_HOME, so no user's settings are read or written.
set -uo pipefail
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export XDG_CONFIG_HOME="$work/config" HOME="$work" QT_QPA_PLATFORM=offscreen
failures=0

# expect STATUS TEXT COMMAND...: the command exits STATUS and prints TEXT (stdout or stderr).
expect() {
    local status=$1 text=$2 got
    shift 2
    "$@" >"$work/out.txt" 2>&1
    got=$?
    if [[ $got -ne $status ]] || ! grep -qF -- "$text" "$work/out.txt"; then
        echo "FAIL: $* exited $got (expected $status) with:"; cat "$work/out.txt"
        echo "--- expected \"$text\""
        failures=$((failures + 1))
    fi
}

case ${1:?case name} in
remember_device)
    # A first start is given the demonstration's device; a user's own choice is never replaced.
    expect 2 "usage: korvalin-remember-device DEVICE_NAME" "$REMEMBER"
    expect 2 "usage: korvalin-remember-device DEVICE_NAME" "$REMEMBER" ""
    expect 0 "remembered PIC16F628A as the window's device in $work/config/" "$REMEMBER" PIC16F628A
    expect 0 "kept the remembered device PIC16F628A" "$REMEMBER" PIC12F675
    grep -qxF 'Device\PIC=PIC16F628A' "$work"/config/*/KorvalinLoader.conf ||
        { echo "FAIL: the window's store does not hold the device"; failures=$((failures + 1)); }
    # A settings folder that cannot be made is said, not taken for success.
    rm -rf "$work/config"
    echo "a file where the folder should be" >"$work/config"
    expect 1 "could not write $work/config/" "$REMEMBER" PIC16F628A
    ;;
screenshot_refusals)
    expect 0 "" "$SCREENSHOTS" --check-display
    expect 2 "usage: korvalin-screenshots OUTPUT_FOLDER [HEX_FILE]" "$SCREENSHOTS"
    echo "not a folder" >"$work/file"
    expect 1 "korvalin-screenshots: cannot create $work/file/shots" "$SCREENSHOTS" "$work/file/shots"
    ;;
*)
    echo "unknown case $1"; exit 2 ;;
esac
[[ $failures -eq 0 ]] || { echo "$1: $failures check(s) failed"; exit 1; }
