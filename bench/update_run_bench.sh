#!/bin/sh
# Whole update runs of updater.exe under Wine beside its reference (bench/update_run_bench.cpp has
# the what and why). Prepares a Wine prefix of its own and an X display, then runs the native driver.
# The win64 build must have been configured with the same UPDATE_BASE_URL as the native one.
# Usage: update_run_bench.sh <update_run_bench (native)> <win64 bin folder> <work folder> [rounds] [big|many|all]
set -eu
driver=$1
bin=$2
work=$3
rounds=${4:-5}
part=${5:-all}

# Windows show their windows in an X display; without one, make one for this run.
if [ -z "${DISPLAY:-}" ]; then
  exec xvfb-run -a -s "-screen 0 1024x768x24" "$0" "$@"
fi

mkdir -p "$work"
work=$(cd "$work" && pwd)
export WINEPREFIX="$work/wineprefix" WINEDEBUG=-all WINEARCH=win64 LC_ALL=zh_CN.UTF-8
if [ ! -f "$WINEPREFIX/system.reg" ]; then
  # No Mono or Gecko: their install prompts would wait for a click.
  WINEDLLOVERRIDES="mscoree,mshtml=" wineboot -i >/dev/null 2>&1
  # Xvfb runs no window manager; Wine then draws the frames itself, as in the end-to-end tests.
  wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f >/dev/null 2>&1
fi
export WINEDLLOVERRIDES="mscoree="
# The server and Wine's own services outlive a program and keep whatever output they were started
# with: start them here on /dev/null, or the driver's capture of the UI probe never sees its end.
# They belong to this run's display: any left from an earlier run of this prefix go first, these
# go when the run ends.
wineserver -k >/dev/null 2>&1 || true
wineserver -p >/dev/null 2>&1 || true
trap 'wineserver -k >/dev/null 2>&1 || true' EXIT
wine cmd /c exit >/dev/null 2>&1

"$driver" "$bin" "$work" "$rounds" "$part"
