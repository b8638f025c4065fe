#!/bin/sh
# Plays a session in the studio window as a user does, on a virtual screen with the sound going
# into PulseAudio's null sink: opens it, waits for the first frame, presses Space, plays
# PLAY_SECONDS (20), presses Space again, and writes into OUT (/tmp/zorvo-studio) the window's
# resident memory each second (rss.txt: seconds, VmRSS and VmHWM in KiB), its CPU time and the
# load average (run.txt), and screenshots while playing and after the stop (playing.png,
# stopped.png: the status line gives frames shown and skipped).
#   bench/studio-window.sh [ZORVO-GUI] [SESSION] [OUT]
# Needs xvfb, pulseaudio, pulseaudio-utils, xdotool and ffmpeg (x11grab); none is a build
# dependency. Nothing of it enters the repository.
set -eu
GUI="${1:-build/bin/zorvo-gui}"
SESSION="${2:-/tmp/zorvo-hd/hd.zorvo}"
OUT="${3:-/tmp/zorvo-studio}"
PLAY="${PLAY_SECONDS:-20}"
SCREEN=":${ZORVO_DISPLAY:-77}"
mkdir -p "$OUT"

pulseaudio --start --exit-idle-time=-1 >/dev/null 2>&1 || true
pactl load-module module-null-sink sink_name=zorvo_null >/dev/null
pactl set-default-sink zorvo_null

Xvfb "$SCREEN" -screen 0 1600x1000x24 -nolisten tcp >/dev/null 2>&1 &
xvfb=$!
gui=""
cleanup() {
    [ -n "$gui" ] && kill "$gui" 2>/dev/null
    kill "$xvfb" 2>/dev/null
    pactl unload-module module-null-sink 2>/dev/null || true
}
trap cleanup EXIT
sleep 1
export DISPLAY="$SCREEN"
"$GUI" "$SESSION" >"$OUT/gui.log" 2>&1 &
gui=$!

cpu() { awk '{print $14 + $15}' "/proc/$gui/stat"; }
status() { awk '/^VmRSS|^VmHWM/ {printf "%s ", $2}' "/proc/$gui/status"; }
shot() { ffmpeg -v error -y -f x11grab -video_size 1600x1000 -i "$SCREEN" -frames:v 1 "$OUT/$1"; }

# The window opens, checks the session and composes the frame at 0:00.
sleep "${OPEN_SECONDS:-15}"
: >"$OUT/rss.txt"
echo "opened: $(status)" >>"$OUT/rss.txt"
xdotool mousemove 800 900
ticks=$(getconf CLK_TCK)
cpu0=$(cpu)
load0=$(cut -d' ' -f1 /proc/loadavg)
xdotool key space
t=0
while [ "$t" -lt "$PLAY" ]; do
    sleep 1
    t=$((t + 1))
    echo "$t $(status)" >>"$OUT/rss.txt"
    [ "$t" -eq $((PLAY / 2)) ] && shot playing.png
done
xdotool key space
cpu1=$(cpu)
sleep 1
shot stopped.png
{
    echo "played ${PLAY} s"
    echo "cpu_s $(echo "$cpu0 $cpu1 $ticks" | awk '{printf "%.1f", ($2 - $1) / $3}')"
    echo "load $load0 -> $(cut -d' ' -f1 /proc/loadavg)"
    echo "peak $(awk '/^VmHWM/ {print $2, $3}' "/proc/$gui/status")"
} >"$OUT/run.txt"
cat "$OUT/run.txt"
