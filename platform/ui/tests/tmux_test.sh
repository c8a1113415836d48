#!/usr/bin/env bash
# The terminal backend for real: uidemo runs in a detached tmux session of
# 80 x 24 cells; keys go in with send-keys (mouse clicks as the terminal's own
# escape sequences), the screen comes back with capture-pane. Each step waits
# for what a person would see, with a generous limit, never a fixed time.
# Runs once for each terminal description that tmux offers.
set -u
demo=${1:?usage: tmux_test.sh path/to/uidemo}
command -v tmux >/dev/null || { echo "tmux is not installed: skipped"; exit 77; }
export LC_ALL=C.UTF-8  # so that bash counts characters, not bytes

sock=""
runs=0
source "$(cd "$(dirname "${BASH_SOURCE[0]}")/../../../tests/support" && pwd)/tmux_lib.sh"
tmp=$(mktemp -d)
trap '[ -n "$sock" ] && T kill-server 2>/dev/null; rm -rf "$tmp"' EXIT

# What runs in the pane: the demo (its pid noted for the signal runs), then
# its exit status and the terminal modes it left behind.
cat >"$tmp/pane.sh" <<'PANE'
ulimit -c 0
TERM=$1 sh -c 'echo $$ >"$0"; exec "$1"' "$2" "$3"
echo "uidemo status=$?"
echo "tty: $(stty -a | tr ' ;' '\n\n' | grep -x -e icanon -e echo | tr '\n' ' ')"
exec sleep 120
PANE

term=""
# A left click as the terminal reports it (X10 mouse protocol: press, release).
click() {
    local y=$1 x=$2 cx cy
    cx=$(printf "\\$(printf %o $((33 + x)))")
    cy=$(printf "\\$(printf %o $((33 + y)))")
    T send-keys -t ui -l "$(printf '\033[M ')$cx$cy$(printf '\033[M#')$cx$cy"
}

start() {
    [ -n "$sock" ] && T kill-server 2>/dev/null
    runs=$((runs + 1))
    sock=$tmp/sock$runs  # a server of its own for each run
    rm -f "$tmp/pid"
    T new-session -d -s ui -x 80 -y 24 "bash '$tmp/pane.sh' '$term' '$tmp/pid' '$demo'"
    wait_for "uidemo ─"
}

run() {
    term=$1
    local quit=$2
    infocmp "$term" >/dev/null 2>&1 || { echo "no terminfo for $term: skipped"; return; }
    start

    # the window with its caption and fields, the focus in the first field
    wait_for "Name:"
    wait_for "focus: name"
    read -r r c < <(find_text "Name:")
    expect_cursor "$r $((c + 7))" "start of the Name field"

    # typed text, with a character outside ASCII
    T send-keys -t ui -l "Ana Müller"
    wait_for "Name:  Ana Müller"
    expect_cursor "$r $((c + 7 + 10))" "after the typed text"

    # Tab moves the focus and the cursor to the second field
    T send-keys -t ui Tab
    wait_for "focus: city"
    expect_cursor "$((r + 2)) $((c + 7))" "start of the City field"
    T send-keys -t ui BTab
    wait_for "focus: name"
    T send-keys -t ui Tab
    wait_for "focus: city"

    # keys the window manager needs, through the terminal's sequences
    T send-keys -t ui C-End
    wait_for "key: C-End"
    T send-keys -t ui PPage
    wait_for "key: PgUp"
    T send-keys -t ui F11
    wait_for "key: F11"

    # F2 opens the question; n answers No and the box goes away
    T send-keys -t ui F2
    wait_for "Do you like it?"
    wait_for "[ Yes ]"
    T send-keys -t ui n
    wait_gone "Do you like it?"
    wait_for "answer: No"

    # Alt-2 stands for F2; Enter takes the first button
    T send-keys -t ui M-2
    wait_for "Do you like it?"
    T send-keys -t ui Enter
    wait_gone "Do you like it?"
    wait_for "answer: Yes"
    wait_for "focus: city"

    # the mouse: a click on the button moves the focus there and presses it;
    # a click on No answers the box
    read -r br bc < <(find_text "[  Ask  ]")
    click "$br" "$((bc + 3))"
    wait_for "Do you like it?"
    wait_for "focus: ask"
    read -r nr nc < <(find_text "[ No ]")
    click "$nr" "$((nc + 2))"
    wait_gone "Do you like it?"
    wait_for "answer: No"

    # a larger terminal: the window is centred again
    T resize-window -t ui -x 100 -y 30
    for _ in $(seq 200); do
        read -r wr wc < <(find_text "┌─ uidemo")
        [ "$wr $wc" = "9 25" ] && break
        sleep 0.05
    done
    [ "$wr $wc" = "9 25" ] || fail "window at $wr,$wc after the resize, expected 9,25"

    # Esc (or Ctrl+C, a close request) ends the program: status 0, the
    # screen and the terminal modes restored
    T send-keys -t ui "$quit"
    wait_for "uidemo status=0"
    wait_for "tty: icanon echo"
    screen | grep -qF "Name:" && fail "the program's screen is still there"
    echo "ok ($term, ended by $quit)"
}

# A signal from outside: the program still gives the terminal back.
by_signal() {
    term=$1
    local sig=$2 want=$3 pid
    start
    pid=$(cat "$tmp/pid")
    [ -n "$pid" ] || fail "no uidemo process"
    kill "-$sig" "$pid"
    wait_for "uidemo status=$want"
    wait_for "tty: icanon echo"
    screen | grep -qF "Name:" && fail "the program's screen is still there after SIG$sig"
    echo "ok ($term, SIG$sig)"
}

run tmux-256color Escape
run screen C-c
by_signal tmux-256color TERM 0
by_signal tmux-256color SEGV 139
