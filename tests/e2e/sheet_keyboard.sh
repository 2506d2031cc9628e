#!/usr/bin/env bash
# The real executable under Xvfb, driven from the keyboard as a user would: a second
# copy shows its message and exits 1 once answered, touching nothing; Escape on the
# first closes it with exit code 0, writing nothing.
set -euo pipefail
exe=${1:?usage: sheet_keyboard.sh TALVEX_CONFIG}
work=$(mktemp -d)
pids=()
cleanup() {
  for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done
  rm -rf "$work"
}
trap cleanup EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

# A display of our own; Xvfb names the first free one.
exec 3<> "$work/display"
Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp >/dev/null 2>&1 &
pids+=($!)
for _ in $(seq 100); do [ -s "$work/display" ] && break; sleep 0.05; done
export DISPLAY=":$(head -n1 "$work/display")"
export PROGRAMDATA="$work/data" QT_QPA_PLATFORM=xcb XDG_RUNTIME_DIR="$work/run"
mkdir -m 0700 "$XDG_RUNTIME_DIR"
unset SYSERRLOG
mkdir -p "$PROGRAMDATA"
settings="$PROGRAMDATA/Orvane/talvex/config/dispatch_console/TalvexSettings.INI"

# Waits for a window named $1 to be mapped and gives it the keyboard.
focus_window() {
  local id
  id=$(timeout 20 xdotool search --sync --onlyvisible --name "^$1\$" | head -n1) ||
    fail "no window named '$1'"
  xdotool windowfocus --sync "$id"
}

# Waits for process $1, a child of this shell, to end; its exit code goes to $rc.
wait_for_exit() {
  rc=0
  timeout 20 tail --pid="$1" -f /dev/null || fail "process $1 did not end"
  wait "$1" || rc=$?
}

"$exe" & first=$!
pids+=("$first")
focus_window "Talvex Console Configuration"
[ ! -e "$settings" ] || fail "the first copy wrote the settings file before OK"

"$exe" & second=$!
pids+=("$second")
focus_window "Warning"
xdotool key Return
wait_for_exit "$second"
[ "$rc" = 1 ] || fail "the second copy exited with $rc, not 1"
[ ! -e "$settings" ] || fail "the second copy wrote the settings file"

focus_window "Talvex Console Configuration"
xdotool key Escape
wait_for_exit "$first"
[ "$rc" = 0 ] || fail "Escape ended the sheet with $rc, not 0"
[ ! -e "$settings" ] || fail "Escape wrote the settings file"
echo "sheet_keyboard: passed"
