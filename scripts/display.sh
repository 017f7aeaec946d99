# Sourced by the scripts that need an X display: `need_display FIRST LAST`
# keeps $DISPLAY when an X server answers there, else starts a private Xvfb
# on the first free display number in that range and sets xvfb_pid (empty
# when none was started). Returns non-zero when no display could be had.
xvfb_pid=""
need_display() {
  if [ -n "${DISPLAY:-}" ] && xdpyinfo >/dev/null 2>&1; then return 0; fi
  local n
  for n in $(seq "$1" "$2"); do
    [ -e "/tmp/.X$n-lock" ] && continue
    Xvfb ":$n" -screen 0 1920x1080x24 -nolisten tcp >/dev/null 2>&1 &
    xvfb_pid=$!
    export DISPLAY=":$n"
    for _ in $(seq 50); do xdpyinfo >/dev/null 2>&1 && return 0; sleep 0.1; done
    kill "$xvfb_pid" 2>/dev/null; xvfb_pid=""
  done
  return 1
}
