#!/usr/bin/env bash
# scopa-view in a real X server: starts Xvfb on a free display, runs scopa-view as its own
# process, drives it with xdotool (a tree click, the wheel, keys, the context menu) and checks
# the events it prints, its answers to container lines on standard input and its pixels.
# Usage: x_session_test.sh SCOPA_VIEW SAMPLES WORK_DIR. Exit 77: no X server tools.
set -euo pipefail
view=$1 samples=$2 work=$3/x-session
command -v Xvfb >/dev/null && command -v xdotool >/dev/null && command -v import >/dev/null \
    || exit 77

rm -rf "$work"
mkdir -p "$work/base/Many" "$work/home"
cp -r "$samples/Landscapes" "$work/base/"
cp "$samples/Landscapes/Dawn.webp" "$work/base/Many/Picture 001.webp"
for i in $(seq -w 2 120); do ln "$work/base/Many/Picture 001.webp" "$work/base/Many/Picture $i.webp"; done
export HOME=$work/home SCOPA_REGISTRY_DIR=$work/registry XDG_CACHE_HOME=$work/cache
export XDG_RUNTIME_DIR=$work/runtime
mkdir -m 700 -p "$XDG_RUNTIME_DIR"
base=$work/base
out=$work/out.txt

source "$(dirname "$0")/x_session_lib.sh"

# Waits (up to 60 s, the machine may be loaded) for a line matching $1 after line $2 of the output.
wait_for() {
    local pattern=$1 after=${2:-0}
    for _ in $(seq 600); do
        tail -n +"$((after + 1))" "$out" | grep -qE "$pattern" && return 0
        sleep 0.1
    done
    fail "no line matching '$pattern'"
}
mark() { wc -l < "$out"; }
send() { echo "$1" >&7; }
# Sends one container line on scopa-view's standard input and waits for the answer pattern.
ask() {
    local at
    at=$(mark)
    echo "$1" >&7
    wait_for "$2" "$at"
}

start_xvfb

mkfifo "$work/in"
"$view" --stdin --base "$base" "$base/Landscapes" < "$work/in" > "$out" 2> "$work/err.txt" &
view_pid=$!
pids+=($view_pid)
exec 7> "$work/in"
wait_for '^ready '
window=$(timeout 60 xdotool search --sync --onlyvisible --name '^Scopa$' | head -n 1)
[ -n "$window" ] || fail "no window"
read -r _ _ _ _ tx ty tw th _ lx ly lw lh _ row < <(grep -m1 '^ready ' "$out")
echo "window $window tree $tx $ty list $lx $ly row $row"
wait_for '^event OnNavigate$'

# Pixels with no text: once the thumbnails are in, the first cell on screen is the control's
# composed cell. (A line that prints something marks when the lines before it have run.)
send 'idle'
ask 'GetPreviewListStyle' '^GetPreviewListStyle -> 0$'
send 'cell 0 -o "$BASE/../cell0.png"'
for _ in $(seq 100); do [ -s "$work/cell0.png" ] && break; sleep 0.1; done
for _ in $(seq 50); do
    import -window "$window" "$work/start.png"
    convert "$work/start.png" -crop "130x130+$((lx + 8))+$ly" +repage "$work/cell0_screen.png"
    differing=$(compare -metric AE "$work/cell0.png" "$work/cell0_screen.png" null: 2>&1 || true)
    [ "$differing" = 0 ] && break
    sleep 0.2
done
[ "$differing" = 0 ] || fail "the first cell on screen differs from the composed cell in $differing pixels"

# A folder clicked in the tree: the tree shows the base folder's sub-folders at the top.
send 'SetTreeControlRootFolder "$BASE"'
at=$(mark)
xdotool mousemove --window "$window" $((tx + 30)) $((ty + row + row / 2)) click 1
wait_for '^event OnNavigate$' "$at"
ask 'GetFolder' '^GetFolder -> "\$BASE/Many"$'

# The wheel scrolls the list: the picture under the pointer changes.
xdotool mousemove --window "$window" $((lx + 80)) $((ly + 60))
import -window "$window" "$work/before_wheel.png"
xdotool click 5 click 5
for _ in $(seq 100); do
    import -window "$window" "$work/after_wheel.png"
    moved=$(compare -metric AE "$work/before_wheel.png" "$work/after_wheel.png" null: 2>&1 || true)
    [ "$moved" != 0 ] && break
    sleep 0.2
done
[ "$moved" != 0 ] || fail "the wheel did not scroll the list"
# The item clicked now lies rows below the first.
at=$(mark)
xdotool click 1
wait_for '^event OnSelectionChange [0-9]+$' "$at"
clicked=$(tail -n +"$((at + 1))" "$out" | grep -oE '^event OnSelectionChange [0-9]+$' | tail -n 1)
[ "${clicked##* }" -ge 8 ] || fail "after two wheel steps the item under the pointer is ${clicked##* }"

# Keys: Home and End select the first and the last item, in the events' order.
at=$(mark)
xdotool key Home
wait_for '^event OnSelectionChange 0$' "$at"
tail -n +"$((at + 1))" "$out" | head -n 4 | tr '\n' ' ' |
    grep -q '^event OnPathChange event OnSelectionChange -1 event OnPathChange event OnSelectionChange 0' ||
    fail "Home gave events out of order"
at=$(mark)
xdotool key End
wait_for '^event OnSelectionChange 119$' "$at"

# The splitter bar dragged to 52 pixels left of the list: the tree ends where it was let go.
at=$(mark)
xdotool mousemove --window "$window" $((lx - 2)) $((ly + 100)) mousedown 1 \
    mousemove --window "$window" $((lx - 30)) $((ly + 100)) \
    mousemove --window "$window" $((lx - 52)) $((ly + 100)) mouseup 1
wait_for '^event OnTreeControlWidthChange$' "$at"
ask 'GetTreeControlWidth' "^GetTreeControlWidth -> $((lx - 52 - tx))\$"

# The context menu: Details is its fourth entry.
at=$(mark)
xdotool mousemove --window "$window" $((lx + 80)) $((ly + 60)) click 3
# The menu is a window of its own: wait until it is mapped.
for _ in $(seq 600); do
    [ "$(xdotool search --onlyvisible --pid "$view_pid" 2>/dev/null | wc -l)" -ge 2 ] && break
    sleep 0.1
done
[ "$(xdotool search --onlyvisible --pid "$view_pid" 2>/dev/null | wc -l)" -ge 2 ] ||
    fail "the context menu did not open"
xdotool key Down Down Down Down Return
for _ in $(seq 100); do
    ask 'GetPreviewListStyle' '^GetPreviewListStyle -> '
    tail -n 1 "$out" | grep -q -- '-> 3$' && break
    sleep 0.2
done
tail -n 1 "$out" | grep -q -- '-> 3$' || fail "Details was not chosen from the context menu"
import -window "$window" "$work/details.png"
echo "x session passed"
