# Sourced after wine-env.sh: start_wine_session starts a private Xvfb display and one
# persistent Wine server for the calling script; both stop, by process id, when it exits.
session_pids=()

stop_wine_session() {
    wineserver -k 2>/dev/null || true
    [ ${#session_pids[@]} -eq 0 ] || kill "${session_pids[@]}" 2>/dev/null || true
}

start_wine_session() {
    trap stop_wine_session EXIT
    local display=99
    while [ -e "/tmp/.X$display-lock" ]; do display=$((display + 1)); done
    Xvfb ":$display" -screen 0 1024x768x24 -nolisten tcp >/dev/null 2>&1 &
    session_pids+=($!)
    export DISPLAY=":$display"
    for _ in $(seq 50); do [ -e "/tmp/.X11-unix/X$display" ] && break; sleep 0.1; done

    # One Wine server for the whole run spares every program its start-up; Wine's own
    # services start here, so that none of them holds a later program's output open.
    wineserver --persistent --foreground &
    session_pids+=($!)
    "$WINE_LOADER" wineboot >/dev/null 2>&1 </dev/null
}
