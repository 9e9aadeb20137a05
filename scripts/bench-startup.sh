#!/bin/sh
# Start-up benchmark: the time from launching `talvira` in a large demo norm base until its
# main window is mapped, against a minimal Qt program showing one empty window, measured the
# same way in the same run (alternating, so both see the same machine load).
#
#   scripts/bench-startup.sh [BUILD_DIR] [RUNS]
#
# BUILD_DIR defaults to ./build, RUNS to 9. The large base is made once with
# `talvira-cli mkbase DIR --scale large` under $TALVIRA_BENCH_DIR (default /tmp/talvira-bench).
# Without a DISPLAY the script starts its own Xvfb. With TALVIRA_BENCH_CPU=1 each figure is the
# processor time the program used until its window was mapped, instead of the wall time: on a
# busy machine the wall time also counts the waits for a free core.
set -eu

BUILD=$(cd "${1:-build}" && pwd)
RUNS=${2:-9}
WORK=${TALVIRA_BENCH_DIR:-/tmp/talvira-bench}
TALVIRA="$BUILD/app/talvira"
EMPTY="$BUILD/bench/startup/talvira_empty_window"
WAIT="$BUILD/bench/startup/talvira_wait_mapped"
CPU=
[ "${TALVIRA_BENCH_CPU:-0}" = 1 ] && CPU=--cpu
CLI="$BUILD/tools/talvira-cli"

for f in "$TALVIRA" "$EMPTY" "$WAIT" "$CLI"; do
    [ -x "$f" ] || { echo "нет программы $f: соберите цели talvira, talvira-cli, talvira_empty_window, talvira_wait_mapped" >&2; exit 1; }
done

if [ ! -f "$WORK/Base/RABMAT.DB" ]; then
    echo "making the large demo base in $WORK/Base ..."
    mkdir -p "$WORK"
    "$CLI" mkbase "$WORK/Base" --scale large
fi

XVFB_PID=
cleanup() { [ -n "$XVFB_PID" ] && kill "$XVFB_PID" 2>/dev/null || true; }
trap cleanup EXIT INT TERM
if [ -z "${DISPLAY:-}" ]; then
    for n in 91 92 93 94 95 96 97 98 99; do
        [ -e "/tmp/.X11-unix/X$n" ] || break
    done
    Xvfb ":$n" -screen 0 1280x1024x24 -nolisten tcp -noreset >/dev/null 2>&1 &
    XVFB_PID=$!
    export DISPLAY=":$n"
    i=0
    while ! xdpyinfo >/dev/null 2>&1 && ! xwininfo -root >/dev/null 2>&1; do
        i=$((i + 1)); [ $i -gt 100 ] && { echo "Xvfb did not start" >&2; exit 1; }
        sleep 0.1
    done
fi

median() { sort -n | awk '{ v[NR] = $1 } END { if (NR % 2) print v[(NR + 1) / 2]; else print (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }

T_FILE=$(mktemp); E_FILE=$(mktemp)
[ -n "${XDG_RUNTIME_DIR:-}" ] || { XDG_RUNTIME_DIR=$(mktemp -d); export XDG_RUNTIME_DIR; }
# One unmeasured run of each fills the file cache.
(cd "$WORK" && "$WAIT" -- "$TALVIRA" >/dev/null)
(cd "$WORK" && "$WAIT" -- "$EMPTY" >/dev/null)
r=0
while [ $r -lt "$RUNS" ]; do
    (cd "$WORK" && "$WAIT" $CPU -- "$TALVIRA") >>"$T_FILE"
    (cd "$WORK" && "$WAIT" $CPU -- "$EMPTY") >>"$E_FILE"
    r=$((r + 1))
done
T=$(median <"$T_FILE"); E=$(median <"$E_FILE")
echo "runs: $RUNS${CPU:+ (processor time)}"
echo "talvira in $WORK: $(tr '\n' ' ' <"$T_FILE")ms; median $T ms"
echo "empty Qt window:     $(tr '\n' ' ' <"$E_FILE")ms; median $E ms"
echo "ratio: $(awk -v t="$T" -v e="$E" 'BEGIN { printf "%.2f", t / e }')"
rm -f "$T_FILE" "$E_FILE"
