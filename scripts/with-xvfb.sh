#!/usr/bin/env bash
# Runs a command on a private Xvfb server: with-xvfb.sh SCREEN COMMAND...
# The server chooses a free display itself and names it only once it accepts
# connections (-displayfd), so neither another server on the machine nor a
# slow start can leave the command without its display; -noreset keeps it
# from resetting (and refusing connections) each time its last client leaves,
# as the test's own connection and the program's come and go.
set -euo pipefail
screen=$1
shift
dir=$(mktemp -d)
server=
cleanup() {
    [ -n "$server" ] && kill "$server" 2> /dev/null && wait "$server" 2> /dev/null
    rm -rf "$dir"
}
trap cleanup EXIT
Xvfb -displayfd 3 -nolisten tcp -noreset -screen 0 "$screen" 3> "$dir/display" 2> "$dir/log" &
server=$!
for _ in $(seq 600); do
    [ -s "$dir/display" ] && break
    if ! kill -0 "$server" 2> /dev/null; then
        echo "Xvfb did not start:" >&2
        cat "$dir/log" >&2
        exit 1
    fi
    sleep 0.1
done
if [ ! -s "$dir/display" ]; then
    echo "Xvfb did not name its display within 60 s" >&2
    exit 1
fi
DISPLAY=:$(head -n 1 "$dir/display")
export DISPLAY
"$@"
