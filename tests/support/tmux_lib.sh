# Helpers of the tests that run a program in a real terminal: a detached
# tmux session "ui" on the server socket $sock, keys in with send-keys, the
# screen back with capture-pane. Each wait looks for what a person would
# see, with a generous limit, never a fixed time. The caller sets sock and
# term (the terminal description of the run, for messages).
T() { tmux -S "$sock" -f /dev/null "$@"; }
fail() {
    echo "FAIL ($term): $*"
    echo "--- screen:"
    T capture-pane -p -t ui 2>/dev/null
    exit 1
}
screen() { T capture-pane -p -t ui 2>/dev/null; }
wait_for() {
    for _ in $(seq 200); do
        screen | grep -qF -- "$1" && return 0
        sleep 0.05
    done
    fail "the screen never showed '$1'"
}
wait_gone() {
    for _ in $(seq 200); do
        screen | grep -qF -- "$1" || return 0
        sleep 0.05
    done
    fail "the screen still shows '$1'"
}
# Row and column (from 0) where a text first appears on the screen.
find_text() {
    local n=0 line
    while IFS= read -r line; do
        if [[ $line == *"$1"* ]]; then
            local pre=${line%%"$1"*}
            echo "$n ${#pre}"
            return
        fi
        n=$((n + 1))
    done < <(screen)
    echo "-1 -1"
}
cursor() { T display -p -t ui '#{cursor_y} #{cursor_x}'; }
# expect_cursor "ROW COL" what, or "ROW" alone for the row only.
expect_cursor() {
    local want=$1 got
    for _ in $(seq 100); do
        got=$(cursor)
        [ "$got" = "$want" ] || [ "${got%% *}" = "$want" ] && return 0
        sleep 0.05
    done
    fail "cursor at $got, expected $want ($2)"
}
