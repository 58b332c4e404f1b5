# Sourced by the GUI tests and the demo: a virtual X display and a Wine
# prefix set up for driving the tray program from outside.

source "$(dirname "${BASH_SOURCE[0]}")/../wine/wine.sh"

# poll TRIES COMMAND...: runs COMMAND until it succeeds, at most TRIES times
# a fifth of a second apart.
poll() {
  local tries=$1
  shift
  for ((i = 0; i < tries; i++)); do
    "$@" && return 0
    sleep 0.2
  done
  return 1
}

# start_virtual_display WIDTH HEIGHT LOG: Xvfb on the first free display
# number from $LIRRIN_GUI_DISPLAY (default 90); exports DISPLAY and sets
# $xvfb_pid.
start_virtual_display() {
  local n display=""
  for n in $(seq "${LIRRIN_GUI_DISPLAY:-90}" 160); do
    if [ ! -e "/tmp/.X11-unix/X$n" ] && [ ! -e "/tmp/.X$n-lock" ]; then display=$n; break; fi
  done
  [ -n "$display" ] || { echo "no free X display number" >&2; return 1; }
  Xvfb ":$display" -screen 0 "${1}x${2}x24" -nolisten tcp >"$3" 2>&1 &
  xvfb_pid=$!
  export DISPLAY=":$display"
  poll 100 test -e "/tmp/.X11-unix/X$display" || { echo "Xvfb did not start" >&2; cat "$3" >&2; return 1; }
}

# use_gui_prefix PROGRAM: the GUI prefix for PROGRAM's bitness, exported as
# WINEPREFIX and WINEARCH, and the Windows version it reports in
# $gui_windows_version: a 32-bit program in a 32-bit prefix reporting
# Windows XP, a 64-bit one in a 64-bit prefix reporting Windows 7.
use_gui_prefix() {
  local base="${LIRRIN_WINEPREFIX:-${HOME}/.cache/lirrin/wine}"
  if [ "$(pe_machine "$1")" = x64 ]; then
    export WINEPREFIX="$base-gui-win7-x64" WINEARCH=win64
    gui_windows_version=win7
  else
    export WINEPREFIX="$base-gui-xp" WINEARCH=win32
    gui_windows_version=winxp
  fi
}

# prepare_gui_prefix LOG: creates $WINEPREFIX when missing, keeps its server
# running, and makes Wine's windows unmanaged: no window manager runs, and
# hiding a window then does not wait for one.
prepare_gui_prefix() {
  create_prefix "$1" || return 1
  # (It refuses when a server already runs for the prefix: just as good.)
  wineserver -p60 >/dev/null 2>&1 || true
  wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f >/dev/null 2>&1
}
