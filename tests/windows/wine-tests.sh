#!/usr/bin/env bash
# The Windows tests: corvo.exe and the Windows-only helpers run under Wine.
# scripts/test-windows builds everything, prepares the prefix and the
# persistent wineserver, then runs this with:
#   CORVO_WIN_BIN    the cross-built programs (corvo.exe, regports.exe, ...)
#   CORVO_LINUX_BIN  the Linux build's programs (corvo, the simulator, builders)
#   CORVO_PTYPAIR    the Linux null-modem pair of terminals
#   CORVO_WORK       a scratch folder, emptied here
# Prints one line per case and "N passed, N failed"; exits 1 on any failure.
set -uo pipefail
HERE=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)

WIN_BIN=${CORVO_WIN_BIN:?}
LINUX_BIN=${CORVO_LINUX_BIN:?}
PTYPAIR=${CORVO_PTYPAIR:?}
WORK=${CORVO_WORK:?}
DOSDEVICES=${WINEPREFIX:?}/dosdevices
RUN_LIMIT_S=60

rm -rf "$WORK"
mkdir -p "$WORK"
cd "$WORK" || exit 1

# shellcheck source=tests/windows/harness.sh
source "$HERE/harness.sh"

CORVO=$WIN_BIN/corvo.exe
HINT="Try 'corvo.exe -h' or 'corvo.exe --help' for more information"

# ---------------------------------------------------------------- the executable

begin_case "Executable_StaticAndImportsOnlySystemDlls"
imports=$(x86_64-w64-mingw32-objdump -p "$CORVO" | sed -n 's/^\s*DLL Name: //p' | tr '[:upper:]' '[:lower:]')
[ -n "$imports" ] || note "no import table found"
for dll in $imports; do
    case $dll in
        kernel32.dll | msvcrt.dll | setupapi.dll | advapi32.dll) ;;
        *) note "imports $dll, which a Windows computer does not have" ;;
    esac
done
x86_64-w64-mingw32-objdump -f "$CORVO" | grep -q 'file format pei-x86-64' ||
    note "not a 64-bit Windows executable"
end_case

# ---------------------------------------------------------------- command line

begin_case "NoArguments_BannerThenOptionRequiredAndHint"
win "$CORVO"
expect_status 1
expect_eq "stdout" "$OUT" $'Kestrune Orla/Halvard and Brisk/Halvard Adapter Firmware Updater 0.4\n\n'
expect_eq "stderr" "$ERR" "You must specify at least one option"$'\n'"$HINT"$'\n'
end_case

begin_case "Help_SameUsageTextAsLinuxWithExeName"
linux -h
linux_out=$OUT
win "$CORVO" -h
expect_status 1
expect_eq "usage text" "$OUT" "$linux_out"
expect_contains "usage text" "$OUT" $'Usage: corvo.exe [OPTION...] [FILE]\n'
expect_contains "usage text" "$OUT" $'  corvo.exe -R                 \t  # Power cycle adapter,\n'
expect_eq "stderr" "$ERR" ""
end_case

# Refused combinations: the driver's own message, then the hint.
while IFS='|' read -r name args message; do
    begin_case "$name"
    # shellcheck disable=SC2086 # the arguments are split on purpose
    win "$CORVO" $args
    expect_status 1
    expect_eq "stdout" "$OUT" ""
    expect_eq "stderr" "$ERR" "corvo.exe: $message"$'\n'"$HINT"$'\n'
    end_case
done <<'EOF'
OperandWithoutFileOption_ExtraArguments|-i extra.dat|extra arguments found
TwoOperands_ExtraArguments|-f a.fw b.fw|extra arguments found
SaveWithoutFile_MissingFile|-s|missing file
HelpWithFlashWithoutFile_MissingFileFirst|-h -f|missing file
SaveWithUpdate_Exclusive|-s -u user.dat|eeprom read option is exclusive of write or clear
EOF

# Errors the C runtime's getopt reports in its own words: only the hint is ours.
while IFS='|' read -r name args; do
    begin_case "$name"
    # shellcheck disable=SC2086
    win "$CORVO" $args
    expect_status 1
    expect_eq "stdout" "$OUT" ""
    [ "$(printf '%s' "$ERR" | wc -l)" -ge 2 ] || note "no diagnostic before the hint"
    expect_eq "last stderr line" "$(printf '%s' "$ERR" | tail -n 1)" "$HINT"
    end_case
done <<'EOF'
UnknownOption_DiagnosticAndHint|-x
PortWithoutName_DiagnosticAndHint|-i -p
ArgumentOnFlagOption_DiagnosticAndHint|--flash=x a.fw
EOF

begin_case "OtherExeName_MessagesUseNameCutAtBackslash"
mkdir -p "$WORK/tools dir"
cp "$CORVO" "$WORK/tools dir/upd.exe"
win "$WORK/tools dir/upd.exe" -i extra.dat
expect_status 1
expect_eq "stderr" "$ERR" $'upd.exe: extra arguments found\nTry \'upd.exe -h\' or \'upd.exe --help\' for more information\n'
end_case

begin_case "OptionsAfterOperand_PermutedLikeLinux"
# The runtime's getopt must move the operand behind the options.
win "$CORVO" extra.dat -s -u
expect_status 1
expect_eq "stderr" "$ERR" "corvo.exe: eeprom read option is exclusive of write or clear"$'\n'"$HINT"$'\n'
end_case

# ---------------------------------------------------------------- library

# The platform-neutral unit tests, cross-built: each GoogleTest test counts
# as one case here.
UNIT_TESTS=$WIN_BIN/corvo_win_unit_tests.exe
if [ -f "$UNIT_TESTS" ]; then
    win "$UNIT_TESTS"
    unit_status=$STATUS unit_out=$OUT
    while IFS= read -r line; do
        if [[ $line =~ ^\[\ +OK\ \]\ ([^ ]+)\ \( ]]; then
            begin_case "unit: ${BASH_REMATCH[1]}"
            end_case
        elif [[ $line =~ ^\[\ +FAILED\ +\]\ ([^ ]+)\ \( ]]; then
            begin_case "unit: ${BASH_REMATCH[1]}"
            note "see the test's output above it in $WORK/unit-tests.txt"
            end_case
        fi
    done <<<"$unit_out"
    printf '%s' "$unit_out" >"$WORK/unit-tests.txt"
    begin_case "UnitTests_RanToTheEnd"
    STATUS=$unit_status
    expect_status 0
    [[ $unit_out == *"[  PASSED  ]"* ]] || note "no GoogleTest summary: the program stopped early"
    end_case
else
    skip_case "UnitTests_RanToTheEnd" "no GoogleTest sources to cross-build"
fi

# ---------------------------------------------------------------- offline road

MKSETTINGS=$LINUX_BIN/corvo-mksettings

# Settings bytes 0x0A, 0x0D and 0x1A (end of file to a text-mode read) in
# lens records and corrections, so only a binary read and write keep them.
SETTINGS_ARGS=(--lens '10:13,26,-26,default' --lens '26-70:127,-127,0,10' --lens 50 --rewrite 3)

# Each case runs the same command on its own copy of the same file under
# Linux and under Wine: the output and the file afterwards must agree.
while IFS='|' read -r name options input; do
    if [ ! -x "$MKSETTINGS" ]; then
        skip_case "$name" "no corvo-mksettings yet"
        continue
    fi
    begin_case "$name"
    rm -rf "$WORK/offline"
    mkdir -p "$WORK/offline/lin" "$WORK/offline/win"
    "$MKSETTINGS" "${SETTINGS_ARGS[@]}" "$WORK/offline/original.dat" >/dev/null ||
        note "corvo-mksettings failed"
    cp "$WORK/offline/original.dat" "$WORK/offline/lin/settings.dat"
    cp "$WORK/offline/original.dat" "$WORK/offline/win/settings.dat"
    input=$(printf '%b' "$input")
    # shellcheck disable=SC2086
    WIN_INPUT=$input in_dir "$WORK/offline/lin" linux $options settings.dat
    lin_out=$OUT lin_err=$ERR
    # shellcheck disable=SC2086
    WIN_INPUT=$input in_dir "$WORK/offline/win" win "$CORVO" $options settings.dat
    expect_status 1
    expect_eq "stdout" "$OUT" "$lin_out"
    expect_eq "stderr" "$ERR" "$lin_err"
    cmp -s "$WORK/offline/lin/settings.dat" "$WORK/offline/win/settings.dat" ||
        note "the file differs from the one Linux left"
    if [[ $name == *Saved* ]]; then
        cmp -s "$WORK/offline/original.dat" "$WORK/offline/win/settings.dat" &&
            note "the file was not changed"
    else
        cmp -s "$WORK/offline/original.dat" "$WORK/offline/win/settings.dat" ||
            note "the file was changed"
    fi
    [ "$(ls "$WORK/offline/win")" == "settings.dat" ] || note "left behind: $(ls "$WORK/offline/win")"
    end_case
done <<'EOF'
Display_SameDumpAsLinux|-d|
DisplayThroughLongOptionPrefix_SameDumpAsLinux|--disp|
Tuning_SavedFileSameBytesAsLinux|-l|1\n127\n-127\n0\n\n2\n13\n26\n-26\n\n0\ny\n
TuningDeclined_FileKept|-l|1\n1\n2\n3\n4\n0\nn\n
EOF

begin_case "MissingSettingsFile_ReportedAndNothingCreated"
mkdir -p "$WORK/empty"
in_dir "$WORK/empty" win "$CORVO" -d nosuch.dat
expect_status 1
expect_eq "stdout" "$OUT" $'\nFailed in opening adapter setting file nosuch.dat, abort\n'
[ -z "$(ls "$WORK/empty")" ] || note "created: $(ls "$WORK/empty")"
end_case

if [ -x "$MKSETTINGS" ]; then
    begin_case "ReadOnlySettingsFile_SaveRefusedAndFileKept"
    mkdir -p "$WORK/readonly"
    "$MKSETTINGS" --lens 50 "$WORK/readonly/settings.dat" >/dev/null
    cp "$WORK/readonly/settings.dat" "$WORK/readonly.orig"
    # Wine shows a file without write permission as read-only.
    chmod a-w "$WORK/readonly/settings.dat"
    WIN_INPUT=$'1\n1\n2\n3\n4\n0\ny\n' in_dir "$WORK/readonly" win "$CORVO" -l settings.dat
    expect_status 1
    expect_contains "stdout" "$OUT" $'Failed to create file settings.dat , abort\n'
    cmp -s "$WORK/readonly/settings.dat" "$WORK/readonly.orig" || note "the file was changed"
    [ "$(ls "$WORK/readonly")" == "settings.dat" ] || note "left behind: $(ls "$WORK/readonly")"
    chmod u+w "$WORK/readonly/settings.dat"
    end_case
else
    skip_case "ReadOnlySettingsFile_SaveRefusedAndFileKept" "no corvo-mksettings yet"
fi

# ---------------------------------------------------------------- serial port

begin_case "SerialPort_BehavesAsSpecifiedOverWine"
rm -f "$DOSDEVICES/com6" "$DOSDEVICES/com7"
"$PTYPAIR" "$DOSDEVICES/com6" "$DOSDEVICES/com7" >"$WORK/.pair" 2>&1 &
helpers+=($!)
for _ in $(seq 50); do
    [ -L "$DOSDEVICES/com7" ] && break
    sleep 0.1
done
if [ -L "$DOSDEVICES/com7" ]; then
    win "$WIN_BIN/portcheck.exe" COM6 COM7 COM8
    expect_status 0
    [ -n "$OUT" ] || note "portcheck printed nothing; stderr: $ERR"
    while IFS= read -r line; do
        [[ $line == ok* ]] || note "$line"
    done <<<"${OUT%$'\n'}"
else
    note "the null-modem pair did not start: $(cat "$WORK/.pair")"
fi
stop_helpers
rm -f "$DOSDEVICES/com6" "$DOSDEVICES/com7"
end_case

# ---------------------------------------------------------------- enumeration

listing() {
    win "$WIN_BIN/listports.exe"
}

begin_case "NoPortsDevice_EmptyListingAndScanFails"
listing
expect_eq "listing" "$OUT" $'--\n'
win "$CORVO" -i
expect_status 1
expect_eq "stdout" "$OUT" ""
expect_eq "stderr" "$ERR" $'Try to scan USB devices ... Auto scan for device failed\nTry specifying a serial port with the \'-p\' option\n'
end_case

begin_case "PrinterPortBeforeComPorts_SkippedAndListedAgainAfterEnd"
win "$WIN_BIN/regports.exe" LPT3 COM5 COM12
expect_status 0
listing
expect_eq "listing" "$OUT" $'COM5\nCOM12\n--\nCOM5\nCOM12\n'
end_case

begin_case "OverlongPortName_EndsListingAtThatDevice"
win "$WIN_BIN/regports.exe" --clear
win "$WIN_BIN/regports.exe" COM3 COM_NAME_TOO_LONG7 COM4
expect_status 0
listing
expect_eq "listing" "$OUT" $'COM3\n--\nCOM3\n'
win "$WIN_BIN/regports.exe" --clear
listing
expect_eq "listing after clearing" "$OUT" $'--\n'
end_case

# The USB mark follows the device path the name points at.
while IFS='|' read -r name port target mark; do
    begin_case "$name"
    # shellcheck disable=SC2086
    win "$WIN_BIN/listports.exe" mark "$port" $target
    expect_status 0
    expect_eq "mark" "$OUT" "$mark"$'\n'
    end_case
done <<'EOF'
UsbSerialDevicePath_MarkedUsb|COM9|\Device\USBSER000|usb
PlainSerialDevicePath_NotMarked|COM8|\Device\Serial0|serial
UnknownName_NotMarked|COM31||serial
EOF

# ---------------------------------------------------------------- device road

SIM=$LINUX_BIN/corvo-adapter-sim
MKFW=$LINUX_BIN/corvo-mkfw
SIM_START_LIMIT=100 # tries, 50 ms apart

# start_sim NAME STATE [OPTION...]: a simulated adapter serving STATE, its
# log in NAME.log. Sets SIM_PID and SIM_PATH (its terminal).
start_sim() {
    local name=$1 state=$2
    shift 2
    rm -f "$WORK/$name.log" "$WORK/$name.simout"
    "$SIM" --state "$state" --log "$WORK/$name.log" "$@" >"$WORK/$name.simout" 2>&1 &
    SIM_PID=$!
    helpers+=("$SIM_PID")
    local _
    for _ in $(seq "$SIM_START_LIMIT"); do
        SIM_PATH=$(head -n 1 "$WORK/$name.simout" 2>/dev/null)
        [ -n "$SIM_PATH" ] && return 0
        kill -0 "$SIM_PID" 2>/dev/null || break
        sleep 0.05
    done
    note "the simulator $name did not start: $(cat "$WORK/$name.simout")"
    return 1
}

# Ends a simulator, which saves its state on the way out.
stop_sim() {
    kill "$1" 2>/dev/null
    wait "$1" 2>/dev/null
}

mask_times() {
    sed -E 's/done in +[0-9]+\.[0-9]+ seconds/done in T seconds/g' <<<"$1"
}

# The elapsed times corvo.exe prints must be real: gettimeofday under mingw.
expect_sane_times() {
    local t
    for t in $(grep -oE 'done in +[0-9]+\.[0-9]+' <<<"$1" | grep -oE '[0-9]+\.[0-9]+$'); do
        awk -v t="$t" 'BEGIN { exit !(t >= 0 && t < 60) }' || note "elapsed time $t seconds"
    done
}

if [ -x "$SIM" ] && [ -x "$MKFW" ] && [ -x "$MKSETTINGS" ]; then
    DEVICE_FILES=$WORK/device-files
    mkdir -p "$DEVICE_FILES"
    "$SIM" --state "$DEVICE_FILES/adapter.state" --save-only >/dev/null
    "$MKFW" "$DEVICE_FILES/orla.fw" >/dev/null
    "$MKSETTINGS" "${SETTINGS_ARGS[@]}" "$DEVICE_FILES/user.dat" >/dev/null
    have_device_tools=1
else
    have_device_tools=0
fi

# Each case runs one command on two simulated adapters with the same start
# state: the Linux program on one by its terminal, corvo.exe on the other as
# COM5. Status, output, the adapter's flash, the commands it received and the
# files left must agree.
while IFS='|' read -r name status args sim_options; do
    if [ "$have_device_tools" -eq 0 ]; then
        skip_case "$name" "no simulator or file builders yet"
        continue
    fi
    begin_case "$name"
    dir=$WORK/device
    rm -rf "$dir"
    mkdir -p "$dir/lin" "$dir/win"
    cp "$DEVICE_FILES"/orla.fw "$DEVICE_FILES"/user.dat "$dir/lin/"
    cp "$DEVICE_FILES"/orla.fw "$DEVICE_FILES"/user.dat "$dir/win/"
    cp "$DEVICE_FILES/adapter.state" "$dir/lin.state"
    cp "$DEVICE_FILES/adapter.state" "$dir/win.state"
    # shellcheck disable=SC2086
    if start_sim lin "$dir/lin.state" $sim_options; then
        lin_pid=$SIM_PID lin_path=$SIM_PATH
        # shellcheck disable=SC2086
        if start_sim win "$dir/win.state" --link "$DOSDEVICES/com5" $sim_options; then
            win_pid=$SIM_PID
            # shellcheck disable=SC2086
            in_dir "$dir/lin" linux -p "$lin_path" $args
            lin_status=$STATUS lin_out=$OUT lin_err=${ERR//"$lin_path"/COM5}
            # shellcheck disable=SC2086
            in_dir "$dir/win" win "$CORVO" -p COM5 $args
            stop_sim "$win_pid"
            [ "$lin_status" -eq "$status" ] || note "the Linux program exited with $lin_status"
            expect_status "$status"
            expect_eq "stdout" "$(mask_times "$OUT")" "$(mask_times "$lin_out")"
            expect_eq "stderr" "$ERR" "$lin_err"
            expect_sane_times "$OUT"
            expect_eq "commands received" "$(cat "$WORK/win.log")" "$(cat "$WORK/lin.log")"
            [ -L "$DOSDEVICES/com5" ] && note "the simulator left its COM5 link"
        fi
        stop_sim "$lin_pid"
        cmp -s "$dir/lin.state" "$dir/win.state" || note "the adapters' flash differs"
        diff -r "$dir/lin" "$dir/win" >/dev/null || note "the files left differ"
    fi
    end_case
done <<'EOF'
NoStep_ConnectsIdentifiesAndSucceeds|0||
Info_SameReportAsLinux|0|-i|
Reset_RestartsAdapter|0|-R|
SettingsSave_SameFileAsLinux|0|-s saved.dat|
SettingsLoadThenFirmwareFromSameFile_LoadLandsAndImageRefused|1|-u -f user.dat|
FirmwareUpdate_SameFlashAsLinux|0|-i -f orla.fw|
FirmwareUpdateOverSerialLink_SameFlashAsLinux|0|-f orla.fw|--serial
WrongProcessor_Refused|1|-i|--device-id 0x10010305
SilentAdapter_SambaOperationFailed|1|-i -R|--silence-after 8
EOF

# A name with no device behind it, given in each way getopt accepts.
for form in "-p COM7" "-pCOM7" "--port COM7" "--port=COM7"; do
    begin_case "MissingPort_NoDeviceFoundOnCOM7 ($form)"
    # shellcheck disable=SC2086
    win "$CORVO" $form -i
    expect_status 1
    expect_eq "stdout" "$OUT" ""
    expect_eq "stderr" "$ERR" $'Try to open USB device ... No device found on COM7\n'
    end_case
done

# ---------------------------------------------------------------- auto-scan

# scan_case NAME REGISTERED...: COM5 and COM6 are simulated adapters; the
# named devices are registered in this order, then corvo.exe -i scans.
scan_case() {
    local name=$1
    shift
    begin_case "$name"
    cp "$DEVICE_FILES/adapter.state" "$WORK/com5.state"
    cp "$DEVICE_FILES/adapter.state" "$WORK/com6.state"
    local pid5 pid6
    start_sim com5 "$WORK/com5.state" --link "$DOSDEVICES/com5" && pid5=$SIM_PID
    start_sim com6 "$WORK/com6.state" --link "$DOSDEVICES/com6" && pid6=$SIM_PID
    win "$WIN_BIN/regports.exe" --clear
    win "$WIN_BIN/regports.exe" "$@"
    expect_status 0
    win "$CORVO" -i
    SCAN_STATUS=$STATUS SCAN_OUT=$OUT SCAN_ERR=$ERR
    [ -n "${pid5-}" ] && stop_sim "$pid5"
    [ -n "${pid6-}" ] && stop_sim "$pid6"
    win "$WIN_BIN/regports.exe" --clear
}

if [ "$have_device_tools" -eq 1 ]; then
    scan_case "Scan_SkipsPrinterAndMissingPortAndConnectsOnCOM5" LPT3 COM8 COM5
    STATUS=$SCAN_STATUS
    expect_status 0
    expect_eq "first stdout line" "$(head -n 1 <<<"$SCAN_OUT")" "Kestrune adapter found on COM5"
    expect_contains "stdout" "$SCAN_OUT" "Bootloader Version: "
    expect_eq "stderr" "$SCAN_ERR" "Try to scan USB devices ... "
    # Wine reports no USB device path for a terminal: the plain serial link.
    expect_contains "COM5 log" "$(cat "$WORK/com5.log")" "- connect 115200 serial"
    expect_lacks "COM5 log" "$(cat "$WORK/com5.log")" "921600"
    end_case

    scan_case "Scan_FirstAdapterListedWinsAndTheOtherIsNeverOpened" COM6 COM5
    STATUS=$SCAN_STATUS
    expect_status 0
    expect_eq "first stdout line" "$(head -n 1 <<<"$SCAN_OUT")" "Kestrune adapter found on COM6"
    expect_contains "COM6 log" "$(cat "$WORK/com6.log")" "- connect"
    expect_lacks "COM5 log" "$(cat "$WORK/com5.log" 2>/dev/null)" "- connect"
    end_case
else
    skip_case "Scan_SkipsPrinterAndMissingPortAndConnectsOnCOM5" "no simulator yet"
    skip_case "Scan_FirstAdapterListedWinsAndTheOtherIsNeverOpened" "no simulator yet"
fi

# ---------------------------------------------------------------- summary

stop_helpers
summary="$passed passed, $failed failed"
[ "$skipped" -eq 0 ] || summary+=", $skipped skipped"
echo "$summary"
[ "$failed" -eq 0 ]
