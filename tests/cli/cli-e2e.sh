#!/usr/bin/env bash
# End-to-end runs of korvalin-cli on the simulated programmer, one case per ctest entry:
#   cli-e2e.sh CASE
# Needs CLI, HEX_COMPARE, SOURCE_DIR in the environment (ctest sets them). Every case works in
# a fresh folder with its own XDG_CONFIG_HOME, so the user's settings are never read or written.
set -uo pipefail

case_name=${1:?case name}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export XDG_CONFIG_HOME="$work/config"
export HOME="$work"
unset KORVALIN_SIM KORVALIN_TRACE KORVALIN_USB_ID

data="$SOURCE_DIR/tests/data"
catalogue="$SOURCE_DIR/data/PicDeviceList.txt"
blink="$SOURCE_DIR/data/examples/blink-16f628a.hex"
[[ -f "$blink" ]] || { echo "missing $blink"; exit 1; }
failures=0

# run EXPECTED_STATUS ARGS...: runs the CLI, keeps its output in $out and $err.
run() {
    local expected=$1
    shift
    out="$work/out.txt"
    err="$work/err.txt"
    "$CLI" "$@" >"$out" 2>"$err"
    local status=$?
    if [[ $status -ne $expected ]]; then
        echo "FAIL: korvalin-cli $* exited $status, expected $expected"
        echo "--- stdout"; cat "$out"; echo "--- stderr"; cat "$err"
        failures=$((failures + 1))
    fi
}

# has FILE TEXT: the output holds that exact line.
has() {
    if ! grep -qxF -- "$2" "$1"; then
        echo "FAIL: no line \"$2\" in $(basename "$1"):"; cat "$1"
        failures=$((failures + 1))
    fi
}

lacks() {
    if grep -qF -- "$2" "$1"; then
        echo "FAIL: unexpected \"$2\" in $(basename "$1"):"; cat "$1"
        failures=$((failures + 1))
    fi
}

check() {
    if ! "$@"; then
        echo "FAIL: $*"
        failures=$((failures + 1))
    fi
}

sim628="PIC16F628A,image=$work/chip.img"

case "$case_name" in
program_verify_read)
    run 0 -d PIC16F628A --sim "$sim628" program "$blink"
    has "$out" "Korvalin Connect"
    has "$out" "Program / EEPROM Write"
    has "$out" "Program / EEPROM Verify"
    has "$out" "Program Verify - OK"
    check test -s "$work/chip.img"
    # A second run sees the same chip through the image file.
    run 0 -d PIC16F628A --sim "$sim628" verify "$blink"
    has "$out" "Program Verify - OK"
    run 0 -d PIC16F628A --sim "$sim628" read "$work/ReadData.hex"
    has "$out" "Program / EEPROM Read"
    check "$HEX_COMPARE" "$catalogue" PIC16F628A "$blink" "$work/ReadData.hex"
    run 1 -d PIC16F628A --sim "$sim628" blank-check
    has "$out" "Not blank"
    # A scripting tool leaves the remembered settings alone.
    check test ! -e "$XDG_CONFIG_HOME/Tessmark"
    # Not a terminal: no progress bar.
    lacks "$err" $'\r'
    ;;
erase_and_blank_check)
    # Every trace of the programmed file must be gone after an erase: program memory, EEPROM,
    # the user ID and the configuration word with its protection bits; one device of each
    # erase method.
    for device in PIC16F628A PIC12F629 PIC16F84A PIC16F877A PIC16F819; do
        sim="$device,image=$work/$device.img"
        run 0 -d "$device" --sim "$sim" program "$data/cli-small-16f84a.hex"
        run 1 -d "$device" --sim "$sim" blank-check
        has "$out" "Not blank"
        run 0 -d "$device" --sim "$sim" erase
        has "$out" "Program / EEPROM Erase"
        run 0 -d "$device" --sim "$sim" blank-check
        has "$out" "Blank"
        run 1 -d "$device" --sim "$sim" verify "$data/cli-small-16f84a.hex"
        has "$out" "Program Memorys : NG"
    done
    ;;
calibration_kept)
    sim="PIC12F629,image=$work/chip.img"
    run 0 -d PIC12F629 --sim "$sim" erase
    has "$out" "OSC Calibration Data Read"
    has "$out" "Program / EEPROM Erase"
    has "$out" "OSC Calibration Data Write"
    run 0 -d PIC12F629 --sim "$sim" blank-check
    has "$out" "Blank"
    run 0 -d PIC12F629 --sim "$sim" read "$work/ReadData.hex"
    # The factory calibration word (a RETLW, 34xx) is still at 0x3FF.
    check grep -qE '^:1007F000(FF3F){7}[0-9A-F]{2}34[0-9A-F]{2}$' <(tr -d '\r' <"$work/ReadData.hex")
    ;;
verify_differs_in_eeprom)
    run 0 -d PIC16F628A --sim "$sim628" program "$blink"
    run 1 -d PIC16F628A --sim "$sim628" verify "$data/cli-blink-eeprom-16f628a.hex"
    has "$out" "Program Verify - NG"
    has "$out" "Verify Error"
    has "$out" "Program Memorys : OK"
    has "$out" "EEPROM Memorys : NG"
    has "$out" "Config Word : OK"
    ;;
word_that_does_not_program)
    run 1 -d PIC16F628A --sim "PIC16F628A,noprogram=0002" program "$blink"
    has "$out" "Program Verify - NG"
    has "$out" "Program Memorys : NG"
    has "$out" "EEPROM Memorys : OK"
    ;;
not_connected)
    run 3 -d PIC16F628A --sim "PIC16F628A,unplugged" erase
    has "$err" "KVNライターが未接続です"
    lacks "$out" "Program / EEPROM Erase"
    # No simulator asked for and no USB ID configured: nothing to talk to.
    run 3 -d PIC16F628A erase
    ;;
empty_socket)
    run 4 -d PIC16F628A --sim empty erase
    has "$err" "デバイスが未実装です"
    run 4 -d PIC16F628A --sim empty detect
    ;;
wrong_chip)
    run 4 -d PIC16F628A --sim PIC16F84A read "$work/r.hex"
    has "$err" "デバイスIDが一致しません"
    check test ! -e "$work/r.hex"
    # The device-ID check switched off for this run only.
    run 0 -d PIC16F628A --sim PIC16F84A --skip-id-check read "$work/r.hex"
    ;;
remembered_settings)
    mkdir -p "$XDG_CONFIG_HOME/Tessmark"
    store="$XDG_CONFIG_HOME/Tessmark/KorvalinLoader.conf"
    printf '[Settings]\nDevice\\PIC=PIC16F84A\nDevice\\DeviceID=0\n' >"$store"
    run 0 --sim PIC16F84A read "$work/r.hex"
    printf '[Settings]\nDevice\\PIC=PIC16F628A\nDevice\\DeviceID=0\n' >"$store"
    run 4 --sim PIC16F84A read "$work/r.hex"
    printf '[Settings]\nDevice\\PIC=PIC16F628A\nDevice\\DeviceID=5\n' >"$store"
    before=$(md5sum <"$store")
    run 0 --sim PIC16F84A read "$work/r.hex"
    check test "$before" = "$(md5sum <"$store")"
    # A remembered name the catalogue does not know is a usage error, and says so.
    printf '[Settings]\nDevice\\PIC=PIC99X\n' >"$store"
    run 2 --sim PIC16F84A erase
    check grep -q 'PIC99X' "$err"
    ;;
file_errors)
    run 5 -d PIC16F628A --sim "$sim628" program "$work/missing.hex"
    has "$err" "ファイルを開けませんでした。"
    lacks "$out" "Program / EEPROM Write"   # nothing was started
    run 5 -d PIC16F628A --sim "$sim628" read "$work/no/such/folder/r.hex"
    has "$err" "ファイルを保存できませんでした。"
    run 5 -d PIC16F628A --sim PIC16F628A --trace "$work/no/such/folder/t.txt" erase
    # A simulated chip that cannot be kept is refused before anything is written to it, and a
    # file that is no chip image is left as it was.
    run 5 -d PIC16F628A --sim "PIC16F628A,image=$work/no/such/folder/chip.img" program "$blink"
    lacks "$out" "Program / EEPROM Write"
    echo "my notes" >"$work/notes.txt"
    run 5 -d PIC16F628A --sim "PIC16F628A,image=$work/notes.txt" program "$blink"
    lacks "$out" "Program / EEPROM Write"
    check test "$(cat "$work/notes.txt")" = "my notes"
    ;;
transfer_failures)
    run 6 -d PIC16F628A --sim "PIC16F628A,unplug-after=300" program "$blink"
    lacks "$out" "Program Verify - OK"
    run 6 -d PIC16F628A --sim "PIC16F628A,stall-after=300" program "$blink"
    has "$err" "KVNライターとの通信に失敗しました。"
    lacks "$out" "Program / EEPROM Verify"
    run 6 -d PIC16F628A --sim "PIC16F628A,stall-after=40" read "$work/r.hex"
    check test ! -e "$work/r.hex"
    ;;
catalogue_errors)
    run 7 --catalogue "$work/none.txt" list
    has "$err" "デバイス リストファイルが見つかりません。"
    run 7 --catalogue "$work/none.txt" -d PIC16F628A --sim PIC16F628A erase
    run 7 --catalogue "$data/cli-invalid-catalogue.txt" -d PIC16F628A --sim PIC16F628A erase
    has "$err" "デバイス リストの内容が正しくありません。"
    run 0 check-catalogue "$catalogue"
    has "$out" "$catalogue: 18 device lines, 0 errors, 0 warnings"
    run 7 check-catalogue "$data/cli-invalid-catalogue.txt"
    has "$out" "$data/cli-invalid-catalogue.txt:2: PIC16F628A: block size 20 is outside 1 to 11 for block-wise programming"
    run 7 check-catalogue "$work/none.txt"
    has "$err" "デバイス リストファイルが見つかりません。"
    ;;
usage_errors)
    run 2
    run 2 --frobnicate list
    run 2 program
    run 2 -d NOPE --sim PIC16F628A erase
    check grep -q 'NOPE' "$err"
    run 2 -d PIC16F628A --sim "PIC16F628A,clock=banana" erase
    run 0 --help
    has "$out" "  6  transfer failure"
    ;;
list_and_detect)
    run 0 list
    check diff <(grep -v '^;' "$catalogue" | cut -f1) "$out"
    # The remembered or chosen device only gives the position; the chip is found whatever its
    # entry sequence.
    for device in PIC16F84A PIC16F628A; do
        run 0 -d "$device" --sim PIC16F628A detect
        check grep -qE '^Device ID: 106[0-9A-F]$' "$out"
        has "$out" "PIC16F628A"
        lacks "$out" "PIC16F84A"
    done
    run 0 -d PIC16F84A --sim PIC16F84A detect
    has "$out" "PIC16F84A"
    ;;
icsp)
    # A chip on the ICSP cable answers only when the run asks for ICSP.
    sim="PIC16F628A,position=icsp,image=$work/chip.img"
    run 4 -d PIC16F628A --sim "$sim" program "$blink"
    has "$err" "デバイスが未実装です"
    run 0 -d PIC16F628A --sim "$sim" --icsp program "$blink"
    has "$out" "Program Verify - OK"
    ;;
interrupt)
    "$CLI" -d PIC16F628A --sim "PIC16F628A,realtime,image=$work/chip.img" program "$blink" \
        >"$work/out.txt" 2>"$work/err.txt" &
    pid=$!
    for _ in $(seq 100); do
        grep -q "Program / EEPROM Write" "$work/out.txt" && break
        sleep 0.05
    done
    sleep 0.3
    kill -INT "$pid"
    wait "$pid"
    status=$?
    check test "$status" -eq 130
    has "$work/out.txt" "Program / EEPROM Write"
    lacks "$work/out.txt" "Program / EEPROM Verify"
    # The simulator was shut down cleanly and kept its chip.
    check test -s "$work/chip.img"
    ;;
interrupt_erase_keeps_calibration)
    # Ctrl-C during the calibration read of an erase: the erase and the calibration write still
    # run, so the chip keeps its factory calibration word.
    sim="PIC12F629,image=$work/chip.img"
    run 0 -d PIC12F629 --sim "$sim" read "$work/before.hex"
    "$CLI" -d PIC12F629 --sim "$sim,realtime" erase >"$work/out.txt" 2>"$work/err.txt" &
    pid=$!
    for _ in $(seq 100); do
        grep -q "OSC Calibration Data Read" "$work/out.txt" && break
        sleep 0.02
    done
    kill -INT "$pid"
    wait "$pid"
    status=$?
    check test "$status" -eq 130
    has "$work/out.txt" "Program / EEPROM Erase"
    has "$work/out.txt" "OSC Calibration Data Write"
    run 0 -d PIC12F629 --sim "$sim" read "$work/after.hex"
    check grep -qE '^:1007F000(FF3F){7}[0-9A-F]{2}34[0-9A-F]{2}$' <(tr -d '\r' <"$work/after.hex")
    check diff <(tr -d '\r' <"$work/before.hex" | grep '^:1007F000') \
               <(tr -d '\r' <"$work/after.hex" | grep '^:1007F000')
    ;;
trace_golden)
    run 0 --catalogue "$data/cli-small-catalogue.txt" -d PIC16F84A --sim PIC16F84A \
        --trace "$work/trace.txt" program "$data/cli-small-16f84a.hex"
    has "$out" "Program Verify - OK"
    if [[ -n "${KORVALIN_UPDATE_GOLDEN:-}" ]]; then
        cp "$work/trace.txt" "$data/trace-cli-program.txt"
    fi
    check diff -u "$data/trace-cli-program.txt" "$work/trace.txt"
    ;;
*)
    echo "unknown case $case_name"
    exit 2
    ;;
esac

if [[ $failures -ne 0 ]]; then
    echo "$case_name: $failures check(s) failed"
    exit 1
fi
echo "$case_name: passed"
