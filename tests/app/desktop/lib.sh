# SPDX-License-Identifier: GPL-3.0-or-later
# Sourced by the desktop checks once $work is made: what they start is ended and $work removed
# at the exit, a wait in tenths of a second, and the settings every check starts from.
pids=()
cleanup() {
    for ((i = ${#pids[@]} - 1; i >= 0; i--)); do kill "${pids[i]}" 2>/dev/null; done
    wait 2>/dev/null
    rm -rf "$work"
}
trap cleanup EXIT
# Waits up to $1 tenths of a second for the command after it to succeed.
within() {
    local tenths=$1
    shift
    for _ in $(seq 1 "$tenths"); do "$@" && return 0; sleep 0.1; done
    return 1
}
# The [Setup] lines of a typical installation with the router on loopback; each check adds its
# own after them.
program_settings() {
    cat <<'CONF'
[Setup]
sohoip=127.0.0.1
seca=180
secb=180
secc=240
ctanni=10
cnctno=1
atcuttm=30
atcutmode=0
atcutdly=3
sohoint=1000
soho2int=1000
dspint=1000
CONF
}
