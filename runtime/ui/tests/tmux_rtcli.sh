#!/usr/bin/env bash
# A real program in a real terminal: rtcli runs a procedure in a detached
# tmux session of 80 x 24 cells; keys go in with send-keys, the screen comes
# back with capture-pane. Each step waits for what a person would see, with
# a generous limit, never a fixed time.
set -u
rtcli=$(realpath "${1:?usage: tmux_rtcli.sh path/to/rtcli path/to/terminal.prc}")
proc=${2:?usage: tmux_rtcli.sh path/to/rtcli path/to/terminal.prc [path/to/ui_wm_tests]}
tests=${3:+$(realpath "$3")}
command -v tmux >/dev/null || { echo "tmux is not installed: skipped"; exit 77; }
export LC_ALL=C.UTF-8

sock=""
runs=0
source "$(cd "$(dirname "${BASH_SOURCE[0]}")/../../../tests/support" && pwd)/tmux_lib.sh"
tmp=$(mktemp -d)
trap '[ -n "$sock" ] && T kill-server 2>/dev/null; rm -rf "$tmp"' EXIT
cp "$proc" "$tmp/terminal.prc"

# What runs in the pane: rtcli in the test's folder, then its exit status,
# the terminal modes it left behind, and a prompt that shows the terminal
# still takes input.
cat >"$tmp/pane.sh" <<'PANE'
ulimit -c 0
cd "$2" && TERM=$1 "$3" run terminal.prc
echo "rtcli status=$?"
echo "tty: $(stty -a | tr ' ;' '\n\n' | grep -x -e icanon -e echo | tr '\n' ' ')"
read -r -p "type here: " line
echo "typed: $line"
exec sleep 120
PANE

term=""
start() {
    [ -n "$sock" ] && T kill-server 2>/dev/null
    runs=$((runs + 1))
    sock=$tmp/sock$runs
    T new-session -d -s ui -x 80 -y 24 "bash '$tmp/pane.sh' '$term' '$tmp' '$rtcli'"
}

run() {
    term=$1
    infocmp "$term" >/dev/null 2>&1 || { echo "no terminfo for $term: skipped"; return; }
    start

    # the script window: its caption in the frame, the text at its cells
    # (WINOPEN 10,50 centred: the frame at row 6, column 14; LOCATE 1,2 is
    # row 8, column 17)
    wait_for "┌─ Terminal test ─"
    wait_for "Hello from a procedure"
    read -r r c < <(find_text "┌─ Terminal test")
    [ "$r $c" = "6 14" ] || fail "the window's frame at $r,$c, expected 6,14"
    read -r r c < <(find_text "Hello from a procedure")
    [ "$r $c" = "8 17" ] || fail "the text at $r,$c, expected 8,17"
    wait_for "Press a key for the menu"

    # any key ends WAIT KEY; the menu comes up with the first item current
    T send-keys -t ui Space
    wait_for "┌─ Fruit"
    wait_for "Pears"
    read -r ar ac < <(find_text "Apples")
    read -r pr pc < <(find_text "Pears")
    expect_cursor "$ar" "on Apples"
    # Down moves the selection, and the cursor with it
    T send-keys -t ui Down
    expect_cursor "$pr" "on Pears after Down"
    T send-keys -t ui Enter
    wait_gone "┌─ Fruit"
    wait_for "chosen 2"

    # the question, answered with the key of No
    wait_for "Keep going?"
    wait_for "[ Yes ]"
    wait_for "[ No ]"
    T send-keys -t ui n
    wait_gone "Keep going?"
    wait_for "answer No"

    # the last key ends the procedure and the program; the terminal is
    # given back in its modes, with the text the procedure printed after
    # its window closed
    wait_for "Press a key to end"
    T send-keys -t ui Enter
    wait_for "rtcli status=0"
    wait_for "tty: icanon echo"
    screen | grep -qF "Terminal test" && fail "the program's screen is still there"
    screen | grep -qxF "done" || fail "the text printed after the window closed is missing"
    wait_for "type here:"
    T send-keys -t ui "still usable" Enter
    wait_for "typed: still usable"
    echo "ok ($term, a procedure's window, menu and question)"

    # Ctrl+C (a close request) in the window stops the procedure
    start
    wait_for "Press a key for the menu"
    T send-keys -t ui C-c
    wait_for "rtcli status=0"
    wait_for "tty: icanon echo"
    screen | grep -qF "Fruit" && fail "the procedure went on after Ctrl+C"
    echo "ok ($term, Ctrl+C stops the procedure)"
}

# A child instance started from a program under tmux opens in a window of
# its own; the suite's case for it runs in the pane.
launch() {
    term=tmux-256color
    [ -n "$tests" ] || return 0
    [ -n "$sock" ] && T kill-server 2>/dev/null
    runs=$((runs + 1))
    sock=$tmp/sock$runs
    T new-session -d -s ui -x 80 -y 24 \
        "cd '$tmp' && QV_TEST_LAUNCH='$tmp' TERM=$term '$tests' --gtest_filter='*UnderTmux*' --gtest_output=xml:'$tmp/launch.xml'; echo \"launch status=\$?\"; exec sleep 120"
    for _ in $(seq 300); do
        T capture-pane -p -t ui:0 2>/dev/null | grep -qF "launch status=" && break
        sleep 0.05
    done
    T capture-pane -p -t ui:0 | grep -qF "launch status=0" || { cat "$tmp/launch.xml"; fail "the child launch case failed"; }
    grep -q 'result="completed"' "$tmp/launch.xml" || { cat "$tmp/launch.xml"; fail "the child launch case did not run"; }
    echo "ok ($term, a child instance in a tmux window of its own)"
}

run tmux-256color
run screen
launch
