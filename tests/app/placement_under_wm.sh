#!/usr/bin/env bash
# Starts the real program three times in a row on a virtual display with a real window
# manager (openbox, which frames windows with a title bar and borders) and closes it the way
# a user would (the window manager's close). With the placement option on, the frame it
# stores at closing must bring the window back to the same frame at the next start, every
# time: no creeping, no centring of a window stored at 0, 0.
#   placement_under_wm.sh PROGRAM
set -euo pipefail
program=$1
for tool in Xvfb openbox wmctrl xprop xdpyinfo; do
  command -v "$tool" >/dev/null || { echo "missing: $tool (scripts/packages.sh installs it)"; exit 1; }
done

work=$(mktemp -d)
pids=()
cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  wait 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

# Polls a condition for up to 30 seconds.
wait_for() {
  local i
  for i in $(seq 300); do
    if eval "$1"; then return 0; fi
    sleep 0.1
  done
  echo "timed out waiting for: $1"
  return 1
}

# The server picks a free display itself and writes its number: two runs at once (tests in
# parallel) never share one.
Xvfb -displayfd 5 -screen 0 1280x1024x24 -nolisten tcp 5>"$work/display" >/dev/null 2>&1 &
pids+=($!)
wait_for "[ -s '$work/display' ]"
display=:$(head -n1 "$work/display")
export DISPLAY=$display QT_QPA_PLATFORM=xcb XDG_CONFIG_HOME=$work/config
wait_for "xdpyinfo >/dev/null 2>&1"
# The window manager: on a busy machine it may take its time, and a start that fails (its
# log says why) is tried again before the test gives up.
start_openbox() {
  local try
  for try in 1 2 3; do
    openbox --sm-disable >"$work/openbox.log" 2>&1 &
    local pid=$!
    pids+=($pid)
    local i
    for i in $(seq 600); do
      wmctrl -m 2>/dev/null | grep -qi openbox && return 0
      kill -0 "$pid" 2>/dev/null || break
      sleep 0.1
    done
    echo "openbox not up (try $try):"; cat "$work/openbox.log"
    kill "$pid" 2>/dev/null || true
  done
  return 1
}
start_openbox

cp "$program" "$work/sorowa"
ini=$work/sorowa.INI
placement() {
  local key
  for key in Left Top Width Height; do
    sed -n "s/^$key=\(.*\)$/\1/p" "$ini" | tr -d '\r'
  done | paste -sd' '
}

# The outer frame of window $1 on screen: left top width height, from the inner window's
# place and size and the frame extents the window manager announces.
frame_of() {
  local extents
  extents=$(xprop -id "$1" _NET_FRAME_EXTENTS 2>/dev/null | sed -n 's/.*= *//p' | tr -d ' ')
  [ -n "$extents" ] || return 0
  xwininfo -id "$1" 2>/dev/null |
    awk -v e="$extents" 'BEGIN {split(e, m, ",")}
         /Absolute upper-left X/ {x=$NF} /Absolute upper-left Y/ {y=$NF}
         /^ *Width:/ {w=$NF} /^ *Height:/ {h=$NF}
         END {print x - m[1], y - m[3], w + m[1] + m[2], h + m[3] + m[4]}'
}

# One start: wait until the window is up, framed and placed (at most 30 seconds; a window
# that never gets there is closed all the same, and the stored values tell), then close it
# through the window manager, as its close button does.
run_once() {
  local expected=$1
  "$work/sorowa" >"$work/out.log" 2>&1 &
  local pid=$!
  wait_for "wmctrl -l | grep -q ' Sorowa$'"
  local id
  id=$(wmctrl -l | awk '/ Sorowa$/ {print $1; exit}')
  wait_for "xprop -id $id _NET_FRAME_EXTENTS 2>/dev/null | grep -q '='"
  wait_for "[ \"\$(frame_of $id)\" = '$expected' ]" || echo "frame on screen: $(frame_of "$id")"
  wmctrl -c Sorowa
  wait_for "! kill -0 $pid 2>/dev/null"
  wait "$pid" || { echo "the program ended with an error:"; cat "$work/out.log"; return 1; }
}

status=0
for stored in "100 80 900 700" "0 0 640 480"; do
  read -r left top width height <<<"$stored"
  printf '[Default]\nDir=%s\nPosition=1\nLeft=%s\nTop=%s\nWidth=%s\nHeight=%s\n[thumbnail]\nNumber=100\n' \
    "$work" "$left" "$top" "$width" "$height" >"$ini"
  for start in 1 2 3; do
    run_once "$stored"
    got=$(placement)
    echo "stored $stored, after start $start: $got"; [ -n "${PLACEMENT_DEBUG:-}" ] && cat "$ini"
    [ "$got" = "$stored" ] || status=1
  done
done
[ $status -eq 0 ] && echo "the frame stayed where it was stored" || echo "FAILED: the frame moved"
exit $status
