# Sourced: starts Xvfb on a free display, exports DISPLAY, and stops it (and
# any pid added to xvfb_pids) on exit. $1: a folder for its log.
for n in $(seq 57 99); do
  [ -e /tmp/.X11-unix/X$n ] || [ -e /tmp/.X$n-lock ] || { display=:$n; break; }
done
Xvfb "$display" -screen 0 1280x800x24 -nolisten tcp >"$1/xvfb.log" 2>&1 &
xvfb_pids=($!)
trap 'kill "${xvfb_pids[@]}" 2>/dev/null || true' EXIT
export DISPLAY=$display
for _ in $(seq 100); do xdotool getdisplaygeometry >/dev/null 2>&1 && break; sleep 0.1; done

# Starts the editor host (args: DIR, then the host's command line, whose
# folder is DIR) and waits for its window; sets editor_pid and
# editor_window.
open_editor() {
  local dir=$1
  shift
  "$@" >"$dir/host.log" 2>&1 &
  editor_pid=$!
  xvfb_pids+=($editor_pid)
  for _ in $(seq 200); do [ -e "$dir/ready" ] && break; sleep 0.1; done
  [ -e "$dir/ready" ] || { echo "the editor host did not start"; cat "$dir/host.log"; exit 1; }
  editor_window=$(xdotool search --name "Lintaq editor" | head -n 1)
  [ -n "$editor_window" ] || { echo "no editor window"; exit 1; }
}
