#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
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
unset KORVALIN_SIM KORVALIN_TRACE KORVALIN_USB_ID KORVALIN_LANG

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

# blocked_on_fifo PID: waits until the process sits in the open of a FIFO that has no writer
# yet (a watchdog of 30 s, not a guess of how long start-up takes).
blocked_on_fifo() {
    local _
    for _ in $(seq 600); do
        [[ $(cat "/proc/$1/wchan" 2>/dev/null) == wait_for_partner ]] && return 0
        [[ $(cut -d' ' -f1 "/proc/$1/syscall" 2>/dev/null) == 257 ]] && return 0   # openat
        sleep 0.05
    done
    echo "FAIL: process $1 never waited on its FIFO"
    failures=$((failures + 1))
}

sim628="PIC16F628A,image=$work/chip.img"

case "$case_name" in
program_verify_read)
    # --sim-stats gives the benches the run's exchanges and its modelled, bound and measured times.
    run 0 --sim-stats -d PIC16F628A --sim PIC16F628A program "$blink"
    check grep -qE '^sim-stats: exchanges 4399, modelled [0-9]+\.[0-9]{3} ms, bound [0-9]+\.[0-9]{3} ms, measured [0-9]+\.[0-9]{3} ms, floor [0-9]+\.[0-9]{3} ms$' "$out"
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
    # "-" is standard input and output; the HEX text on standard output is all there is on it.
    run 0 -qd PIC16F628A --sim "$sim628" -v --progress=plain read -
    check "$HEX_COMPARE" "$catalogue" PIC16F628A "$blink" "$out"
    check test "$(grep -vc '^:' "$out")" -eq 0
    has "$err" "Program / EEPROM Read"
    check grep -qE '^Program / EEPROM Read: [0-9]+\.[0-9]{2} s$' "$err"
    lacks "$err" "Read 100%"   # -q: no progress, whatever --progress says
    run 0 -d PIC16F628A --sim "$sim628" --progress=plain verify - <"$blink"
    has "$out" "Program Verify - OK"
    check grep -qE '^Program / EEPROM Verify 100% [0-9]+:[0-9]{2}$' "$err"
    run 0 -d PIC16F628A --sim "$sim628" program - <"$work/ReadData.hex"
    run 5 -d PIC16F628A --sim "$sim628" verify - </dev/null
    has "$err" "standard input: no data for PIC16F628A; nothing sent to the programmer (--force verifies it anyway)"
    run 5 -d PIC16F628A --sim "$sim628" program - </dev/zero
    has "$err" "(standard input is larger than 4 MiB; no HEX file of a PIC is)"
    # A terminal on standard input is a forgotten pipe, not a HEX file to wait for.
    script -qec "\"$CLI\" -d PIC16F628A --sim PIC16F628A program -" "$work/typescript" \
        </dev/null >"$work/script-out.txt"
    check test $? -eq 5
    check grep -q "standard input is a terminal; pipe the HEX file in" "$work/typescript"
    # Nowhere to write the HEX file to: not a success, and the chip image is left alone.
    cp "$work/chip.img" "$work/chip-before.img"
    "$CLI" -d PIC16F628A --sim "$sim628" read - 2>"$work/err.txt" >&-
    check test $? -eq 5
    has "$work/err.txt" "ファイルを保存できませんでした。"
    check cmp -s "$work/chip.img" "$work/chip-before.img"
    # The fast schedule on a chip at its data-sheet maximum; a device without checked times
    # keeps the standard schedule and is told so.
    run 0 -d PIC16F628A --fast --sim PIC16F628A,slow program "$blink"
    has "$out" "Program Verify - OK"
    lacks "$out" "--fast:"
    sed 's/^PIC16F84A	/PIC16F84X	/' "$data/cli-small-catalogue.txt" >"$work/unknown.txt"
    run 0 --fast --skip-id-check --catalogue "$work/unknown.txt" -d PIC16F84X --sim PIC16F84A \
        program "$data/cli-small-16f84a.hex"
    has "$out" "--fast: no checked programming times for PIC16F84X; programming by the standard schedule"
    # A scripting tool leaves the remembered settings alone.
    check test ! -e "$XDG_CONFIG_HOME/Tessmark"
    # Not a terminal: no progress bar.
    lacks "$err" $'\r'
    # A protected file is verified before its protection goes on; the protected chip then
    # reads as zeros, and a verify says so.
    sed 's/^:104000000100000000000000000000000000503F20/:104000000100000000000000000000000000501F40/' \
        "$blink" >"$work/protected.hex"
    run 0 -d PIC16F628A --sim "$sim628" program "$work/protected.hex"
    has "$out" "Code Protect Write"
    has "$out" "Program Verify - OK"
    run 1 -d PIC16F628A --sim "$sim628" verify "$work/protected.hex"
    has "$out" "Program Memorys : NG"
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
    # Every read (the erase's, the blank check's, the read's) is in the journal under the XDG
    # state folder, and calibration-history shows it.
    journal="$work/.local/state/korvalin-loader/calibration.log"
    check test "$(wc -l <"$journal")" -eq 3
    run 0 -d PIC12F629 calibration-history
    check grep -qE '^[0-9-]{10}T[0-9:]{8}Z PIC12F629 0F8[0-9A-F] 34[0-9A-F]{2} [0-3]$' "$out"
    run 0 -d PIC12F675 calibration-history
    has "$err" "no calibration read of PIC12F675 is on record in $journal"
    mv "$journal" "$work/journal.log" && mkdir "$journal"
    run 5 calibration-history
    has "$err" "cannot read the calibration journal $journal"
    rmdir "$journal" && mv "$work/journal.log" "$journal"
    good=$(tail -1 "$journal" | awk '{ print $4 "," $5 }')
    # Unplugged between the erase and the write-back: the message names the word to restore.
    run 3 -d PIC12F629 --sim "$sim,unplug-after=1045" erase
    has "$err" "校正値 ${good/,/ BG} を書き込んでください。"
    has "$err" "The chip has lost its calibration. Restore it by running again with --calibration $good"
    # The erased chip reads 3FFF: nothing more is erased, and the journal's word is offered.
    run 8 -d PIC12F629 --sim "$sim" program "$data/cli-small-16f84a.hex"
    has "$err" "記録にある最後の正常値: ${good/,/ BG}"
    lacks "$out" "Program / EEPROM Write"
    run 2 -d PIC12F629 --sim "$sim" --calibration 3FFF erase
    has "$err" "korvalin-cli: --calibration takes HHHH[,B]: a factory calibration word, RETLW 34xx, and band-gap bits 0 to 3; not \"3FFF\""
    run 0 -d PIC12F629 --sim "$sim" --calibration "$good" erase
    run 0 -d PIC12F629 --sim "$sim" read "$work/ReadData.hex"
    check grep -qE "^:1007F000(FF3F){7}${good:2:2}34[0-9A-F]{2}\$" <(tr -d '\r' <"$work/ReadData.hex")
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
    # A malformed USB ID is the user's to mend, and the message says where.
    mkdir -p "$XDG_CONFIG_HOME/Tessmark"
    printf '[Settings]\nUsb\\VendorId=04D8\nUsb\\ProductId=12\n' \
        >"$XDG_CONFIG_HOME/Tessmark/KorvalinLoader.conf"
    run 2 -d PIC16F628A erase
    check grep -q 'Settings/Usb/ProductId' "$err"
    ;;
usb_setup)
    # From nothing configured to a rule in place, as the README walks through it.
    run 3 -d PIC16F628A erase
    has "$err" "KVNライターが未接続です"
    has "$err" "(no USB ID is set for the programmer: find it with \`korvalin-cli usb-list\` and choose it with \`korvalin-cli usb-use vvvv:pppp\`)"
    echo "not a folder" >"$work/notes.txt"
    run 2 udev-rule
    run 2 usb-use 1209:4b5
    run 2 udev-rule 1209:zz56
    run 2 usb-list --serial X
    run 2 --group "x\";RUN+=\"/bin/sh" udev-rule 1209:4b56
    XDG_CONFIG_HOME="$work/notes.txt/config" run 5 usb-use 1209:4B56
    has "$err" "usb-use: the settings cannot be written to $work/notes.txt/config/Tessmark/KorvalinLoader.conf"
    run 0 usb-use 1209:4B56 --serial KVN-7
    check grep -qx 'Usb\\Serial=KVN-7' "$XDG_CONFIG_HOME/Tessmark/KorvalinLoader.conf"
    KORVALIN_USB_ID=f00d:0001 run 3 -d PIC16F628A erase
    has "$err" "(no programmer with USB ID f00d:0001 is plugged in; \`korvalin-cli usb-list\` shows what is)"
    lacks "$err" "libusb: debug"
    KORVALIN_USB_ID=f00d:0001 run 3 -vv -d PIC16F628A erase
    check grep -q "libusb: debug \[libusb_get_device_list\]" "$err"
    run 0 udev-rule --group plugdev
    has "$out" 'SUBSYSTEM=="usb", ENV{DEVTYPE}=="usb_device", ATTR{idVendor}=="1209", ATTR{idProduct}=="4b56", TAG+="uaccess"'
    has "$out" 'SUBSYSTEM=="usb", ENV{DEVTYPE}=="usb_device", ATTR{idVendor}=="1209", ATTR{idProduct}=="4b56", GROUP="plugdev", MODE="0660"'
    cp "$out" "$work/rule"
    printf '#!/bin/sh\necho udevadm "$@"\n' >"$work/udevadm"
    chmod +x "$work/udevadm"
    export KORVALIN_UDEV_RULES_DIR="$work/rules.d" UDEVADM="$work/udevadm"
    check bash -c '"$0/scripts/install-udev-rule" <"$1" >"$2"' "$SOURCE_DIR" "$work/rule" "$work/installed"
    check cmp "$work/rule" "$work/rules.d/60-korvalin.rules"
    has "$work/installed" "udevadm trigger --subsystem-match=usb --attr-match=idVendor=1209 --attr-match=idProduct=4b56"
    # What is not a rule from udev-rule is never handed to root's udev.
    echo 'RUN+="/bin/rm -rf /"' >"$work/bad"
    check bash -c '! "$0/scripts/install-udev-rule" "$1" 2>/dev/null' "$SOURCE_DIR" "$work/bad"
    check cmp "$work/rule" "$work/rules.d/60-korvalin.rules"
    ;;
empty_socket)
    run 4 -d PIC16F628A --sim empty erase
    has "$err" "デバイスが未実装です"
    run 4 -d PIC16F628A --sim empty detect
    # English on request: the option wins over KORVALIN_LANG, which wins over the window's choice.
    run 4 -d PIC16F628A --sim empty --lang en erase
    has "$err" "No device in the socket"
    KORVALIN_LANG=en run 4 -d PIC16F628A --sim empty erase
    has "$err" "No device in the socket"
    KORVALIN_LANG=en run 4 -d PIC16F628A --sim empty --lang ja erase
    has "$err" "デバイスが未実装です"
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
    has "$err" "Device: PIC16F84A (remembered by the window)"
    run 0 -d PIC16F84A --sim PIC16F84A read "$work/r.hex"
    lacks "$err" "Device:"
    printf '[Settings]\nDevice\\PIC=PIC16F628A\nDevice\\DeviceID=0\n' >"$store"
    run 4 --sim PIC16F84A read "$work/r.hex"
    # Only the device is taken from the window: its remembered options do not apply here.
    printf '[Settings]\nDevice\\PIC=PIC16F628A\nDevice\\DeviceID=5\n' >"$store"
    before=$(md5sum <"$store")
    run 4 --sim PIC16F84A read "$work/r.hex"
    check test "$before" = "$(md5sum <"$store")"
    # A remembered device that cannot be read is named, not replaced by a default.
    printf '[Settings]\nDevice\\PIC=PIC16F84A, PIC16F628A\n' >"$store"
    run 2 --sim PIC16F84A erase
    check grep -q 'PIC in group Settings/Device' "$err"
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
    # A trace that runs out of room is an incomplete trace, not a success.
    run 5 -d PIC16F628A --sim PIC16F628A --trace /dev/full erase
    has "$out" "Program / EEPROM Erase"
    # A simulated chip that cannot be kept is refused before anything is written to it, and a
    # file that is no chip image is left as it was.
    run 5 -d PIC16F628A --sim "PIC16F628A,image=$work/no/such/folder/chip.img" program "$blink"
    lacks "$out" "Program / EEPROM Write"
    echo "my notes" >"$work/notes.txt"
    run 5 -d PIC16F628A --sim "PIC16F628A,image=$work/notes.txt" program "$blink"
    lacks "$out" "Program / EEPROM Write"
    check test "$(cat "$work/notes.txt")" = "my notes"
    check grep -qF "cannot keep the simulated chip in $work/notes.txt: it holds something else than a chip image" "$err"
    # One process at a time on one image, and an image of another chip is left alone.
    run 0 -d PIC16F628A --sim "PIC16F628A,image=$work/chip.img" program "$blink"
    mkfifo "$work/later.hex"   # the first run holds the image while it waits for its file
    "$CLI" -d PIC16F628A --sim "PIC16F628A,image=$work/chip.img" program "$work/later.hex" \
        >/dev/null 2>&1 &
    pid=$!
    blocked_on_fifo "$pid"
    run 5 -d PIC16F628A --sim "PIC16F628A,image=$work/chip.img" verify "$blink"
    has "$err" "cannot keep the simulated chip in $work/chip.img: another process is using it"
    kill -TERM "$pid"
    wait "$pid"
    check test $? -eq 143
    cp "$work/chip.img" "$work/chip-628a.img"
    run 5 -d PIC16F84A --sim "PIC16F84A,image=$work/chip.img" erase
    has "$err" "cannot keep the simulated chip in $work/chip.img: it holds a PIC16F628A, not the PIC16F84A being simulated"
    check cmp -s "$work/chip.img" "$work/chip-628a.img"
    # HEX files that are not what they seem are refused before the programmer hears anything:
    # a checksum error, data beyond 2048 words and a record cut short; no data for the device.
    printf ':020000000528D2\r\n:02100000AAAA\r\n:00000001FF\r\n' >"$work/dubious.hex"
    printf ':020000040001F9\r\n:020000000528D1\r\n:00000001FF\r\n' >"$work/other.hex"
    for command in program:programs verify:verifies; do
        run 5 -d PIC16F628A --sim PIC16F628A --trace "$work/t.txt" "${command%:*}" "$work/dubious.hex"
        has "$err" "$work/dubious.hex: bytes outside PIC16F628A: 2, checksum errors: 1, records cut short: 1; nothing sent to the programmer (--force ${command#*:} it anyway)"
        check test ! -s "$work/t.txt"
    done
    run 5 -d PIC16F628A --sim PIC16F628A program "$work/other.hex"
    has "$err" "デバイスのデータがありません"
    run 0 -d PIC16F628A --sim PIC16F628A --force program "$work/dubious.hex"
    has "$out" "Program Verify - OK"
    # Endless inputs end at the size bound (one that did not would meet ctest's time-out).
    run 5 -d PIC16F628A --sim PIC16F628A program /dev/zero
    has "$err" "HEXファイルが大きすぎます。"
    run 5 -d PIC16F628A --sim PIC16F628A verify /dev/urandom
    has "$err" "HEXファイルが大きすぎます。"
    ;;
transfer_failures)
    # The programmer that vanishes mid-write is reported as gone, with the status that says so.
    run 3 -d PIC16F628A --sim "PIC16F628A,unplug-after=300" program "$blink"
    has "$err" "KVNライターが未接続です"
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
    # Endless inputs end at once.
    for endless in /dev/zero /dev/urandom; do
        started=$(date +%s%N)
        run 7 --catalogue "$endless" list
        run 7 --catalogue "$endless" -d PIC16F628A --sim PIC16F628A erase
        check test $(( ($(date +%s%N) - started) / 1000000 )) -lt 1000
        has "$err" "デバイス リストの内容が正しくありません。"
    done
    run 0 check-catalogue "$catalogue"
    has "$out" "$catalogue: 18 device lines, 0 errors, 0 warnings"
    run 7 check-catalogue "$data/cli-invalid-catalogue.txt"
    has "$out" "$data/cli-invalid-catalogue.txt:2: PIC16F628A: block size 20 is outside 1 to 11 for block-wise programming"
    run 7 check-catalogue "$work/none.txt"
    has "$err" "デバイス リストファイルが見つかりません。"
    run 7 -q --catalogue "$data/cli-invalid-catalogue.txt" check-catalogue
    has "$out" "$data/cli-invalid-catalogue.txt:2: PIC16F628A: block size 20 is outside 1 to 11 for block-wise programming"
    ;;
usage_errors)
    run 2
    run 2 --frobnicate list
    run 2 program
    run 2 -d NOPE --sim PIC16F628A erase
    check grep -q 'NOPE' "$err"
    run 2 -d PIC16F628A --sim "PIC16F628A,clock=banana" erase
    run 2 -d PIC16F628A --sim PIC16F628A --calibration 3480 erase
    has "$err" "PIC16F628A has no calibration word; --calibration does not apply"
    run 0 --help
    has "$out" "  6  transfer failure"
    run 2 -qx list
    has "$err" "korvalin-cli: unknown option -x"
    run 2 erase --progress=dots
    run 2 erase --device=
    has "$err" "korvalin-cli: the device name given to -d, --device is empty"
    run 0 --version
    check grep -qxE 'korvalin-cli [0-9]+\.[0-9]+\.[0-9]+' "$out"
    has "$out" "catalogue: $(dirname "$CLI")/PicDeviceList.txt"
    run 0 --catalogue "$work/none.txt" --version
    has "$out" "catalogue: $work/none.txt (not found)"
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
    # A chip that answers but is in no catalogue line.
    run 4 --catalogue "$data/cli-small-catalogue.txt" -d PIC16F84A --sim PIC16F819 detect
    check grep -qE '^Device ID: 04E[0-9A-F]$' "$out"
    check grep -qE '^no catalogue device has device ID 04E[0-9A-F]$' "$err"
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
    # Waiting for a FIFO's writer (HEX file, catalogue) ends with the signal's own status.
    mkfifo "$work/fifo"
    for signal in INT:130 TERM:143; do
        for args in "program $work/fifo" "--catalogue $work/fifo list"; do
            "$CLI" -d PIC16F628A --sim PIC16F628A $args >"$work/out.txt" 2>"$work/err.txt" &
            pid=$!
            blocked_on_fifo "$pid"
            kill -"${signal%:*}" "$pid"
            wait "$pid"
            status=$?
            check test "$status" -eq "${signal#*:}"
        done
    done
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
production_tray)
    # Ten chips, the fourth refuses to program: it is counted and the run goes on, and the
    # serial moves on only after a chip has verified.
    tray="PIC16F628A,tray=10,tray-fail=4"
    yes '' | head -20 >"$work/enter.txt"
    run 1 -q -d PIC16F628A --sim "$tray" program "$blink" --repeat --serial 1 --log "$work/log.csv" <"$work/enter.txt"
    check test "$(grep -c '^Chip [0-9]*: OK, serial' "$out")" -eq 9
    check grep -qE '^Chip 4: FAILED \(verify failed\), serial 0004, [0-9]+ ms$' "$out"
    check diff <(grep -o '^Chip [0-9]*: OK, serial [0-9A-F]*' "$out" | grep -o '[0-9A-F]*$') <(printf '%04d\n' $(seq 9))
    check grep -qE '^Chips: 9 OK, 1 failed; [0-9]+ ms per chip \(fastest [0-9]+, slowest [0-9]+\)$' "$out"
    has "$err" "insert the next chip, Enter to program, q to stop"
    has "$err" "the simulator's tray has no more chips"
    # The log: a header, then a line per chip with the file's digest and the chip's serial.
    has "$work/log.csv" "time,programmer,device,file,sha256,device_id,serial,result,duration_ms"
    check test "$(head -1 "$work/log.csv" | cut -c1-5)" = "time,"
    digest=$(sha256sum "$blink" | cut -d' ' -f1)
    check diff <(tail -n +2 "$work/log.csv" | cut -d, -f2-4,6- | sed -E 's/,106[0-9A-F],/,ID,/; s/,[0-9]+$//') \
        <(for s in 1 2 3 4- 4 5 6 7 8 9; do
              r=OK; [[ $s == *- ]] && r="verify failed"
              echo "simulator,PIC16F628A,$blink,ID,000${s%-},$r"; done)
    check test "$(tail -n +2 "$work/log.csv" | cut -d, -f5 | sort -u)" = "$digest"
    # A second run appends without a second header; q, --count and a stray answer end or
    # repeat as the operator means.
    # Rows: the operator's answers (one a comma), options, exit status, summary, prompts.
    for row in "q|--repeat|0|1 OK, 0 failed|1" ",,,,|--repeat --count 3|0|3 OK, 0 failed|2" \
               "x,,q|--repeat|0|2 OK, 0 failed|3" ",|--serial FFFF --repeat|5|1 OK, 0 failed|1"; do
        IFS='|' read -r answers options expected summary prompts <<<"$row"
        tr ',' '\n' <<<"$answers" >"$work/answers.txt"
        # shellcheck disable=SC2086
        run "$expected" -q -d PIC16F628A --sim "$tray" program "$blink" $options --log "$work/log.csv" <"$work/answers.txt"
        check grep -q "^Chips: $summary" "$out"
        check test "$(grep -c 'insert the next chip' "$err")" -eq "$prompts"
    done
    has "$err" "serial 10000 does not fit in the user ID; the run stops here"
    check test "$(grep -c '^time,' "$work/log.csv")" -eq 1
    check test "$(wc -l <"$work/log.csv")" -eq $((1 + 10 + 1 + 3 + 2 + 1))
    # Another kind of chip, and a programmer pulled out during chip 2: each chip says why, and
    # the run's status is the worst chip's.
    printf '\n\n\n' >"$work/answers.txt"
    run 4 -q -d PIC16F628A --sim "PIC16F84A,tray=2" program "$blink" --repeat <"$work/answers.txt"
    check test "$(grep -cE '^Chip [12]: FAILED \(wrong or no chip\), [0-9]+ ms$' "$out")" -eq 2
    run 3 -q -d PIC16F628A --sim "PIC16F628A,tray=3,unplug-after=5000" program "$blink" --repeat <"$work/answers.txt"
    check grep -qE '^Chip 2: FAILED \(programmer not connected\), [0-9]+ ms$' "$out"
    # Refused before any chip is touched: a serial too large, a log that cannot be written.
    run 2 -d PIC16F628A --sim "$sim628" program "$blink" --serial 10000
    has "$err" "serial 10000 does not fit in the user ID; no chip was touched"
    run 2 -d PIC16F628A --sim "$sim628" program "$blink" --serial-retlw 7FF,2
    run 5 -d PIC16F628A --sim "$sim628" program "$blink" --log "$work/no/log.csv"
    run 0 -d PIC16F628A --sim "$sim628" blank-check
    # RETLW words, low byte first; a serial file that moves on only past chips that verified.
    printf '%s\n' '' '' >"$work/answers.txt"
    run 1 -q -d PIC16F628A --sim "PIC16F628A,tray=3,tray-fail=2" program "$blink" --repeat \
        --serial 1234 --serial-file "$work/next.txt" <"$work/answers.txt"
    check grep -qiE '^0*1236$' "$work/next.txt"
    run 0 -d PIC16F628A --sim "$sim628" program "$blink" --serial 1234 --serial-retlw 3F0,2
    has "$out" "Chip 1: OK, serial 1234, $(grep -o '[0-9]* ms$' "$out")"
    run 0 -d PIC16F628A --sim "$sim628" read "$work/r.hex"
    check grep -q '^:1007E00034341234' <(tr -d '\r' <"$work/r.hex")
    # Ctrl-C at the prompt stops the run as q does: the summary, and the chips' own status.
    mkfifo "$work/operator"
    exec 3<>"$work/operator"
    "$CLI" -q -d PIC16F628A --sim "$tray" program "$blink" --repeat <"$work/operator" \
        >"$work/out.txt" 2>"$work/err.txt" &
    pid=$!
    for _ in $(seq 600); do grep -q "insert the next chip" "$work/err.txt" && break; sleep 0.05; done
    kill -INT "$pid"
    wait "$pid"
    status=$?
    exec 3>&-
    check test "$status" -eq 0
    has "$work/out.txt" "Chips: 1 OK, 0 failed; $(grep -o '^Chip 1: OK, [0-9]*' "$work/out.txt" | grep -o '[0-9]*$') ms per chip (fastest $(grep -o '^Chip 1: OK, [0-9]*' "$work/out.txt" | grep -o '[0-9]*$'), slowest $(grep -o '^Chip 1: OK, [0-9]*' "$work/out.txt" | grep -o '[0-9]*$'))"
    ;;
watch)
    # Programs at once, then after each rewrite or replacement once the writer is done; a
    # broken file is reported and the watch goes on.
    cp "$blink" "$work/w.hex"
    "$CLI" -q -d PIC16F628A --sim "$sim628" program "$work/w.hex" --watch >"$work/out.txt" 2>"$work/err.txt" &
    pid=$!
    results() { grep -c "w.hex: " "$work/out.txt"; }
    wait_results() { for _ in $(seq 600); do [[ $(results) -ge $1 ]] && return 0; sleep 0.05; done; return 1; }
    check wait_results 1
    cp "$blink" "$work/w.tmp" && mv "$work/w.tmp" "$work/w.hex"
    check wait_results 2
    sed 's/^:00000001FF/:00000001FE/' "$blink" >"$work/w.hex"
    check wait_results 3
    cat "$blink" >"$work/w.hex"
    check wait_results 4
    kill -INT "$pid"
    wait "$pid"
    status=$?
    check test "$status" -eq 130
    check test "$(grep -cE '^[0-9]{4}-[0-9]{2}-[0-9]{2}T[0-9:]{8}[+-][0-9:]{5} .*/w.hex: OK, [0-9]+ ms$' "$work/out.txt")" -eq 3
    check grep -qE 'w.hex: FAILED \(file not loaded\)$' "$work/out.txt"
    check test "$(results)" -eq 4
    ;;
trace_golden)
    # The bytes on the wire, checked against the scripts trace-model.py works out from the
    # programmer's command tables, the catalogue line and the HEX file.
    model() { python3 "$SOURCE_DIR/tests/cli/trace-model.py" "$data/cli-small-catalogue.txt" PIC16F84A "$@"; }
    run 0 --catalogue "$data/cli-small-catalogue.txt" -d PIC16F84A --sim PIC16F84A \
        --trace "$work/trace.txt" program "$data/cli-small-16f84a.hex"
    has "$out" "Program Verify - OK"
    check model "$data/cli-small-16f84a.hex" "$work/trace.txt"
    # The model itself must notice a changed byte: with another clock answer every wait differs.
    sed '4s/^R 08 10/R 08 14/' "$work/trace.txt" >"$work/other-clock.txt"
    check test "$(model "$data/cli-small-16f84a.hex" "$work/other-clock.txt" | head -n 1)" = \
        "trace-model: exchange 8 (program word 0000):"
    # With every CP bit cleared: the same exchanges up to the verify, then the protected
    # configuration word, written and read back.
    sed 's/^:02400E00F13F80/:02400E000100AF/' "$data/cli-small-16f84a.hex" >"$work/protected.hex"
    run 0 --catalogue "$data/cli-small-catalogue.txt" -d PIC16F84A --sim PIC16F84A \
        --trace "$work/protected.txt" program "$work/protected.hex"
    check model "$work/protected.hex" "$work/protected.txt"
    ;;
bash_completion)
    # completes LINE WORD...: completing the last word of LINE (a trailing space starts a new
    # word) offers every WORD; a WORD written !WORD must not be offered.
    completes() {
        local line=$1 offered
        shift
        offered=$(cd "$work" && PATH="$(dirname "$CLI"):$PATH" bash -c '
            source "$1"
            read -ra COMP_WORDS <<<"$2"
            [[ $2 == *" " ]] && COMP_WORDS+=("")
            COMP_CWORD=$((${#COMP_WORDS[@]} - 1))
            _korvalin_cli
            printf "%s\n" "${COMPREPLY[@]}"' _ "$SOURCE_DIR/data/korvalin-cli.bash-completion" "$line")
        local word
        for word in "$@"; do
            if [[ $word == !* ]]; then
                grep -qxF -- "${word#!}" <<<"$offered" || continue
                echo "FAIL: \"$line<Tab>\" offers ${word#!}:"
            else
                grep -qxF -- "$word" <<<"$offered" && continue
                echo "FAIL: \"$line<Tab>\" does not offer $word:"
            fi
            echo "$offered"
            failures=$((failures + 1))
        done
    }
    touch "$work/blink.hex" "$work/board.txt"
    cp "$data/cli-small-catalogue.txt" "$work/small.txt"
    completes "korvalin-cli -d PIC16F62" PIC16F628A PIC16F627A !PIC16F877A
    completes "korvalin-cli --device PIC12" PIC12F675 !PIC16F628A
    completes "korvalin-cli --catalogue small.txt -d PIC" PIC16F84A !PIC16F628A
    completes "korvalin-cli " list detect read program verify erase blank-check !calibration
    completes "korvalin-cli -d PIC16F628A --icsp pro" program !-d !PIC16F628A
    completes "korvalin-cli --sim PIC16F628A " list erase
    completes "korvalin-cli --" --device --catalogue --sim --trace --icsp --quiet --help !-d
    completes "korvalin-cli -" -d -q -h --skip-id-check
    completes "korvalin-cli -d PIC16F628A program bl" blink.hex !board.txt
    completes "korvalin-cli --trace b" blink.hex board.txt
    completes "korvalin-cli --sim " !list !blink.hex
    completes "korvalin-cli --progress " bar plain none !blink.hex
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
