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
exit $status
INNER
# Start the free-display search at a number of our own, so that screenshots taken by other
# processes at the same moment rarely race for the same display.
xvfb-run -a -n $((100 + $$ % 800)) -s "-screen 0 1280x1024x24" bash "$inner" "$out" "$workdir" "$@"
status=$?
rm -f "$inner"
exit $status
