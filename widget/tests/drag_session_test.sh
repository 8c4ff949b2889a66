#!/usr/bin/env bash
# Dragging pictures out of scopa-view in a real X server onto drop targets that run as their
# own processes and write down what they received: a bitmap gives a Windows bitmap that
# decodes to the picture, a metafile a metafile, every drag the file's URI; the same picture
# dropped twice onto one application (windows "Report [Read-Only] - Writer" and
# "Report {2} - Viewer" both name "Report") asks whether to drop a generic format, and Yes makes
# that drop carry Picture.bmp. The preview window of a bitmap is shown for real as well.
# Usage: drag_session_test.sh SCOPA_VIEW DROP_TARGET SCOPA SAMPLES WORK_DIR. Exit 77: no X tools.
set -euo pipefail
view=$1 target=$2 tool=$3 samples=$4 work=$5/drag-session
command -v Xvfb >/dev/null && command -v xdotool >/dev/null || exit 77

rm -rf "$work"
mkdir -p "$work/base/Bmp" "$work/base/Wmf" "$work/base/Png" "$work/home" "$work/drops1" \
    "$work/drops2" "$work/tmp"
cp "$samples/Patterns/Rings.bmp" "$work/base/Bmp/"
"$tool" export "$samples/Patterns/Rings.bmp" "$work/base/Wmf/Rings.wmf" --format WMF >/dev/null
cp "$samples/Patterns/Checker.png" "$work/base/Png/"
export HOME=$work/home SCOPA_REGISTRY_DIR=$work/registry XDG_CACHE_HOME=$work/cache
export XDG_RUNTIME_DIR=$work/runtime TMPDIR=$work/tmp
mkdir -m 700 -p "$XDG_RUNTIME_DIR"
base=$work/base
out=$work/out.txt

source "$(dirname "$0")/x_session_lib.sh"
extra_logs=("$work/err.txt")
# Waits (up to 60 s, the machine may be loaded) for a line matching $2 in file $1.
wait_in() {
    for _ in $(seq 600); do
        grep -qE "$2" "$1" 2>/dev/null && return 0
        sleep 0.1
    done
    fail "no line matching '$2' in $1"
}
mark() { wc -l < "$out"; }
wait_after() {
    for _ in $(seq 600); do
        tail -n +"$(($2 + 1))" "$out" | grep -qE "$1" && return 0
        sleep 0.1
    done
    fail "no line matching '$1'"
}

start_xvfb

mkfifo "$work/in"
"$view" --stdin --base "$base" "$base/Bmp" < "$work/in" > "$out" 2> "$work/err.txt" &
view_pid=$!
pids+=($!)
exec 7> "$work/in"
wait_in "$out" '^ready '
window=$(timeout 60 xdotool search --sync --onlyvisible --name '^Scopa$' | head -n 1)
[ -n "$window" ] || fail "no window"
read -r _ _ _ _ _ _ _ _ _ lx ly _ _ _ _ < <(grep -m1 '^ready ' "$out")
wait_in "$out" '^event OnNavigate$'
echo 'EnableDragAndDrop' >&7

# Two targets, one at a time at the same place: titles naming the same application.
start_target() {
    "$target" "$1" "$2" > "$2/log.txt" 2>&1 &
    target_pid=$!
    pids+=($!)
    wait_in "$2/log.txt" '^ready$'
    timeout 60 xdotool search --sync --onlyvisible --name "^$(printf '%s' "$1" | sed 's/[][{}]/\\&/g')\$" \
        >/dev/null || fail "no target window '$1'"
}
start_target 'Report [Read-Only] - Writer' "$work/drops1"

# Presses on the first cell of the list and lets go over the target window, in steps.
drag_first_item() {
    local x y
    x=$(xdotool getwindowgeometry --shell "$window" | sed -n 's/^X=//p')
    y=$(xdotool getwindowgeometry --shell "$window" | sed -n 's/^Y=//p')
    xdotool mousemove $((x + lx + 73)) $((y + ly + 65)) mousedown 1
    for step in 1 2 3 4 5 6 7 8; do
        xdotool mousemove $((x + lx + 73 + step * (800 - x - lx - 73) / 8)) $((y + ly + 65 + step * (250 - y - ly - 65) / 8))
        sleep 0.1
    done
    sleep 0.3
    xdotool mouseup 1
}
show_folder() {
    local at
    at=$(mark)
    echo "SetPath \"$base/$1\"" >&7
    wait_after '^event OnNavigate$' "$at"
}

# A bitmap: a Windows bitmap of the picture's size, a PNG, and the URI list.
drag_first_item
wait_in "$work/drops1/log.txt" '^dropped 1$'
offers() {
    for format in "${@:2}"; do grep -qx "$format" "$1" || return 1; done
}
# (Qt adds its own image type to every image/* offer on X11.)
offers "$work/drops1/drop-1.txt" image/bmp image/png text/uri-list \
    || fail "a bitmap offered $(cat "$work/drops1/drop-1.txt")"
head -c 2 "$work/drops1/drop-1.image_bmp" | grep -q '^BM' || fail "no bitmap file"
"$tool" export "$work/drops1/drop-1.image_bmp" "$work/dropped.png" --format PNG >/dev/null \
    || fail "the dropped bitmap does not decode"
[ "$(printf 'file://%s\r\n' "$base/Bmp/Rings.bmp")" = "$(cat "$work/drops1/drop-1.text_uri-list")" ] \
    || fail "the URI list is not the file's"

# The preview window of the 256 x 256 bitmap: a client area of 256 x 256 at (100, 100).
echo 'PreviewListItem' >&7
preview=$(timeout 60 xdotool search --sync --onlyvisible --name "^$base/Bmp/Rings.bmp\$" | head -n 1)
[ -n "$preview" ] || fail "no preview window"
for _ in $(seq 100); do
    geometry=$(xdotool getwindowgeometry "$preview")
    grep -q 'Geometry: 256x256' <<< "$geometry" && break
    sleep 0.1
done
grep -q 'Position: 100,100' <<< "$geometry" && grep -q 'Geometry: 256x256' <<< "$geometry" \
    || fail "preview window at $geometry"
xdotool windowunmap --sync "$preview"

# A metafile: the placeable metafile's key first, and the URI list.
show_folder Wmf
drag_first_item
wait_in "$work/drops1/log.txt" '^dropped 2$'
offers "$work/drops1/drop-2.txt" image/x-wmf text/uri-list && ! offers "$work/drops1/drop-2.txt" image/bmp \
    || fail "a metafile offered $(cat "$work/drops1/drop-2.txt")"
[ "$(head -c 4 "$work/drops1/drop-2.image_x-wmf" | od -An -tx1 | tr -d ' \n')" = d7cdc69a ] \
    || fail "no metafile"

# The double drop: a PNG onto "Report [Read-Only] - Writer", then, seconds later, onto
# "Report {2} - Viewer": the same application, so the assistant asks; Yes gives Picture.bmp.
show_folder Png
drag_first_item
wait_in "$work/drops1/log.txt" '^dropped 3$'
grep -q "Png/Checker.png" "$work/drops1/drop-3.text_uri-list" || fail "the first drop was converted"
kill "$target_pid" 2>/dev/null || true
start_target 'Report {2} - Viewer' "$work/drops2"
sleep 1.2
drag_first_item
question=$(timeout 30 xdotool search --sync --onlyvisible --name '^Drag & Drop Assistant$' | head -n 1)
[ -n "$question" ] || fail "the assistant did not ask"
xdotool windowactivate --sync "$question" 2>/dev/null || true
xdotool key --window "$question" y
wait_in "$work/drops2/log.txt" '^dropped 1$'
grep -q "$work/tmp/Picture.bmp" "$work/drops2/drop-1.text_uri-list" \
    || fail "the answered drop did not carry Picture.bmp: $(cat "$work/drops2/drop-1.text_uri-list")"
[ -s "$work/tmp/Picture.bmp" ] || fail "Picture.bmp was not written"

# Quit through the File menu: the control saves its preferences, with "Report" among the
# applications that get a generic format.
xdotool mousemove --window "$window" $((lx + 300)) $((ly + 300)) click 1
xdotool key alt+f
sleep 0.5
xdotool key q
for _ in $(seq 300); do kill -0 "$view_pid" 2>/dev/null || break; sleep 0.1; done
kill -0 "$view_pid" 2>/dev/null && fail "scopa-view did not quit"
grep -A3 -i 'AppDropPrefs' "$work/registry/machine.reg" | grep -q '"Report"="Generic"' \
    || fail "Report was not recorded: $(cat "$work/registry/machine.reg")"
echo "drag session passed"
