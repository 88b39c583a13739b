#!/usr/bin/env bash
# Usage: xvfb-screenshot.sh OUT.png WORKDIR COMMAND...
# Starts COMMAND under a private Xvfb screen, waits for its window, lets it draw, takes a
# screenshot of the whole screen and ends COMMAND. Exit status 0 when a screenshot was taken.
# Optional: ACTIONS, shell commands (xdotool, import for extra shots) run on the same screen
# after the first delay; the screenshot follows ACTIONS_DELAY seconds (default 1) later.
set -u
out="$1"; workdir="$2"; shift 2
inner=$(mktemp)
cat >"$inner" <<'INNER'
set -u
out="$1"; workdir="$2"; shift 2
cd "$workdir" || exit 3
# The server may still be starting: wait until it answers before the program connects.
for _ in $(seq 1 100); do
  xdotool getdisplaygeometry >/dev/null 2>&1 && break
  sleep 0.1
done
"$@" >"$out.stdout" 2>"$out.stderr" &
pid=$!
for _ in $(seq 1 100); do
  if xdotool search --onlyvisible --pid "$pid" >/dev/null 2>&1 || xdotool search --onlyvisible --name densepack >/dev/null 2>&1; then break; fi
  if ! kill -0 "$pid" 2>/dev/null; then echo "program ended before its window appeared" >&2; cat "$out.stderr" >&2; exit 4; fi
  sleep 0.1
done
sleep "${SCREENSHOT_DELAY:-1.5}"
if [ -n "${ACTIONS:-}" ]; then
  bash -c "$ACTIONS" || { echo "ACTIONS failed" >&2; kill "$pid" 2>/dev/null; exit 6; }
  sleep "${ACTIONS_DELAY:-1}"
fi
import -window root "$out"
status=$?
kill "$pid" 2>/dev/null
wait "$pid" 2>/dev/null
echo "$status" >"$out.status"
exit $status
INNER
# Start the free-display search at a number of our own, so that screenshots taken by other
# processes at the same moment rarely race for the same display. A display that still cannot
# be opened (a server that died at start) gets two more tries on another number.
for attempt in 1 2 3; do
  rm -f "$out.status"
  xvfb-run -a -n $((100 + ($$ + 97 * attempt) % 800)) -s "-screen 0 1280x1024x24" bash "$inner" "$out" "$workdir" "$@"
  status=$?
  # xvfb-run now and then fails to remove its own temporary directory after the screenshot
  # was taken (status 5); the screenshot's own status is the one that counts.
  if [ -s "$out.status" ]; then status=$(cat "$out.status"); fi
  if [ "$status" -ne 4 ] || ! grep -q "failed to open display" "$out.stderr" 2>/dev/null; then break; fi
  echo "xvfb-screenshot: display could not be opened, trying again" >&2
done
rm -f "$inner"
exit $status
