#!/bin/sh
# The singers' screen on a real X server with two screens: starts Xvfb with a
# 1280x1024 and a 1024x768 screen on a free display and runs the TwoScreens
# tests of test_stage there, through Qt's X11 platform.  A screenshot of the
# second screen goes into SHOTS.
#   check_singers_screen.sh TEST_STAGE SHOTS
# Exits 77 (skipped) without Xvfb.
set -eu
test_stage=$1
shots=$2
command -v Xvfb >/dev/null 2>&1 || { echo "Xvfb is not installed: skipped"; exit 77; }
mkdir -p "$shots"
work=$(mktemp -d)
# Xvfb picks a free display and writes its number once it accepts clients.
Xvfb -displayfd 3 -nolisten tcp -screen 0 1280x1024x24 -screen 1 1024x768x24 3>"$work/display" \
  >"$work/log" 2>&1 &
server=$!
trap 'kill $server 2>/dev/null; rm -rf "$work"' EXIT
for _ in $(seq 100); do
  [ -s "$work/display" ] && break
  sleep 0.1
done
display=$(tr -d '\n' <"$work/display")
[ -n "$display" ] || { cat "$work/log"; echo "Xvfb did not start"; exit 1; }
DISPLAY=":$display" QT_QPA_PLATFORM=xcb VOZARO_TWO_SCREENS=1 VOZARO_SCREENSHOTS="$shots" \
  "$test_stage" --gtest_filter='TwoScreens.*'
