# Case bookkeeping and the runners shared by the Windows tests (sourced by
# wine-tests.sh, which sets WORK, RUN_LIMIT_S and the program paths).
# shellcheck shell=bash

passed=0
failed=0
skipped=0
case_name=
case_errors=()
helpers=()

stop_helpers() {
    local pid
    for pid in "${helpers[@]}"; do
        kill "$pid" 2>/dev/null && wait "$pid" 2>/dev/null
    done
    helpers=()
}
trap stop_helpers EXIT

begin_case() {
    case_name=$1
    case_errors=()
}

end_case() {
    if [ ${#case_errors[@]} -eq 0 ]; then
        passed=$((passed + 1))
        echo "ok   $case_name"
    else
        failed=$((failed + 1))
        echo "FAIL $case_name"
        printf '       %s\n' "${case_errors[@]}"
    fi
}

skip_case() {
    skipped=$((skipped + 1))
    echo "skip $1 ($2)"
}

note() {
    case_errors+=("$@")
}

# slurp VAR FILE: the file's text without "\r" into VAR, trailing line ends kept.
slurp() {
    local text
    text=$(tr -d '\r' <"$2"; echo x)
    printf -v "$1" '%s' "${text%x}"
}

# win PROGRAM ARGS...: runs a Windows program in the work folder with
# $WIN_INPUT on standard input. Sets OUT, ERR (with "\r" removed) and STATUS.
win() {
    printf '%s' "${WIN_INPUT-}" | timeout -k 5 "$RUN_LIMIT_S" wine "$@" >"$WORK/.out" 2>"$WORK/.err"
    STATUS=$?
    slurp OUT "$WORK/.out"
    slurp ERR "$WORK/.err"
}

# linux ARGS...: the Linux build's corvo the same way, under the name corvo.exe
# so that both print the same program name.
mkdir -p "$WORK/linux"
ln -s "$LINUX_BIN/corvo" "$WORK/linux/corvo.exe"
linux() {
    printf '%s' "${WIN_INPUT-}" | timeout -k 5 "$RUN_LIMIT_S" "$WORK/linux/corvo.exe" "$@" \
        >"$WORK/.out" 2>"$WORK/.err"
    STATUS=$?
    slurp OUT "$WORK/.out"
    slurp ERR "$WORK/.err"
}

expect_eq() {
    local what=$1 actual=$2 expected=$3
    [ "$actual" == "$expected" ] && return 0
    note "$what differs (expected, then actual):"
    while IFS= read -r line; do note "  $line"; done \
        < <(diff <(printf '%s\n' "$expected") <(printf '%s\n' "$actual") | head -20)
}

expect_status() {
    [ "$STATUS" -eq "$1" ] || note "exit status $STATUS, expected $1"
}

expect_contains() {
    local what=$1 text=$2 part=$3
    [[ "$text" == *"$part"* ]] || note "$what lacks: $(printf '%q' "$part")"
}

expect_lacks() {
    local what=$1 text=$2 part=$3
    [[ "$text" != *"$part"* ]] || note "$what holds: $(printf '%q' "$part")"
}

# in_dir DIR COMMAND...: runs a command with DIR as the working folder, so
# both platforms see the same relative file name.
in_dir() {
    local dir=$1
    shift
    pushd "$dir" >/dev/null || return 1
    "$@"
    popd >/dev/null || return 1
}
