# Shared by the X session tests; sourced after $work and $out are set. Keeps the processes it
# starts in `pids` and ends them on exit; `fail` prints what scopa-view printed (and the files
# in `extra_logs`) before failing; `start_xvfb` starts an X server on a free display.
pids=()
extra_logs=()
cleanup() {
    exec 7>&- 2>/dev/null || true
    for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
    wait 2>/dev/null || true
}
trap cleanup EXIT
fail() {
    echo "FAIL: $*" >&2
    echo "--- scopa-view printed:" >&2
    cat "$out" >&2 || true
    for log in "${extra_logs[@]}"; do cat "$log" >&2 || true; done
    exit 1
}
start_xvfb() {
    exec 3> "$work/display"
    Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 2> "$work/xvfb.log" &
    pids+=($!)
    exec 3>&-
    for _ in $(seq 300); do [ -s "$work/display" ] && break; sleep 0.1; done
    [ -s "$work/display" ] || fail "Xvfb did not start"
    export DISPLAY=:$(tr -d '\n' < "$work/display")
    unset WAYLAND_DISPLAY QT_QPA_PLATFORM
}
