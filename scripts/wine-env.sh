# Sourced by the scripts that run Windows programs under Wine: a private
# 64-bit prefix inside the build folder (never the user's own), quiet Wine,
# and functions to make the prefix, start and end a Wine session and give it
# a virtual display.
#   source scripts/wine-env.sh
#   vantrel_wine_prefix && vantrel_display_start && vantrel_wine_start
#   ... wine build/win/Vantrel.exe ...
#   vantrel_wine_stop; vantrel_display_stop
# VANTREL_BUILD (default <repo>/build) and VANTREL_WINEPREFIX (default
# $VANTREL_BUILD/wineprefix) may be set before sourcing.
# shellcheck shell=bash

VANTREL_ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
VANTREL_BUILD=${VANTREL_BUILD:-$VANTREL_ROOT/build}
export WINEPREFIX=${VANTREL_WINEPREFIX:-$VANTREL_BUILD/wineprefix}
export WINEARCH=win64
# No debug chatter, and no offer to install Mono or Gecko.
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="

# Makes the prefix when it is missing (about 15 s) and checks its settings:
# Wine's own fonts in C:\windows\Fonts (Debian's Wine does not find them
# otherwise, and ANSI_FIXED_FONT is then not Courier), and no window-manager
# handshake, which without a window manager costs 2 s per hidden window.
vantrel_wine_prefix() {
  if [[ ! -f $WINEPREFIX/system.reg ]]; then
    echo "wine: making prefix $WINEPREFIX"
    mkdir -p "$(dirname "$WINEPREFIX")"
    wineboot -i </dev/null >/dev/null 2>&1 || {
      echo "wine: wineboot failed for $WINEPREFIX" >&2
      return 1
    }
  fi
  local fonts=$WINEPREFIX/drive_c/windows/Fonts
  mkdir -p "$fonts"
  cp -u /usr/share/wine/fonts/* "$fonts/"
  if ! grep -qs '^"Managed"="N"' "$WINEPREFIX/user.reg"; then
    wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f </dev/null >/dev/null 2>&1
    # The registry reaches user.reg when the session ends.
    wineserver -w
  fi
}

# Starts a Wine session detached from every pipe, so that Wine's helper
# processes do not hold the caller's output open (ctest would wait on it).
vantrel_wine_start() {
  wineserver -p </dev/null >/dev/null 2>&1
  wine cmd /c exit </dev/null >/dev/null 2>&1
}

# Ends the session and every Wine process of this prefix.
vantrel_wine_stop() {
  wineserver -k </dev/null >/dev/null 2>&1 || true
}

# Gives the Wine session a 24-bit virtual screen when there is no display
# (sets DISPLAY); does nothing when DISPLAY is already set. Call before
# vantrel_wine_start: the session keeps the display it started with.
VANTREL_XVFB_PID=
vantrel_display_start() {
  [[ -n ${DISPLAY:-} ]] && return 0
  local number=99
  while [[ -e /tmp/.X$number-lock || -e /tmp/.X11-unix/X$number ]]; do
    number=$((number + 1))
  done
  Xvfb ":$number" -screen 0 1024x768x24 -nolisten tcp </dev/null >/dev/null 2>&1 &
  VANTREL_XVFB_PID=$!
  local tries
  for ((tries = 0; tries < 100; tries++)); do
    [[ -S /tmp/.X11-unix/X$number ]] && break
    if ! kill -0 "$VANTREL_XVFB_PID" 2>/dev/null; then
      echo "wine: Xvfb :$number did not start" >&2
      VANTREL_XVFB_PID=
      return 1
    fi
    sleep 0.05
  done
  export DISPLAY=:$number
}

# Stops the virtual screen started by vantrel_display_start.
vantrel_display_stop() {
  if [[ -n $VANTREL_XVFB_PID ]]; then
    kill "$VANTREL_XVFB_PID" 2>/dev/null || true
    wait "$VANTREL_XVFB_PID" 2>/dev/null || true
    VANTREL_XVFB_PID=
    unset DISPLAY
  fi
}
