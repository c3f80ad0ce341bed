#!/bin/sh
# Runs bench/promotion_bench.cpp's program under Wine on a fresh tree.
# Usage: promotion_bench.sh <promotion_bench.exe> <work folder> [rounds]
set -eu
exe=$1
work=$2
rounds=${3:-7}

export WINEPREFIX="$work/wineprefix" WINEDEBUG=-all WINEARCH=win64 LC_ALL=zh_CN.UTF-8
# No Mono or Gecko: their install prompts would wait for a click.
export WINEDLLOVERRIDES="mscoree,mshtml="
mkdir -p "$work"
[ -f "$WINEPREFIX/system.reg" ] || wineboot -i >/dev/null 2>&1
# The server and Wine's own services outlive a run and keep whatever output they were started
# with: start them here on /dev/null, or a caller capturing the benchmark's output never sees its end.
wineserver -p >/dev/null 2>&1
wine cmd /c exit >/dev/null 2>&1

tree="$work/tree"
rm -rf "$tree"
mkdir -p "$tree"
windows_tree="Z:$(printf '%s' "$tree" | tr '/' '\\')"
wine "$exe" "$windows_tree" "$rounds"
rm -rf "$tree"
