#!/bin/sh
# Runs bench/download_bench.cpp's program under Wine and curl against one loopback server serving
# a 200 MB file, in rounds, and prints the medians and their ratios. Every copy goes to a folder
# in memory (/dev/shm), so disk write-back does not decide the times.
# Usage: download_bench.sh <download_bench.exe> <work folder> [rounds] [port]
set -eu
exe=$1
work=$2
rounds=${3:-9}
port=${4:-8651}
size_mb=200

export WINEPREFIX="$work/wineprefix" WINEDEBUG=-all WINEARCH=win64 LC_ALL=zh_CN.UTF-8
# No Mono or Gecko: their install prompts would wait for a click.
export WINEDLLOVERRIDES="mscoree,mshtml="
mkdir -p "$work/www"
[ -f "$WINEPREFIX/system.reg" ] || wineboot -i >/dev/null 2>&1
# A persistent server started apart from any captured output.
wineserver -p >/dev/null 2>&1 || true  # already running is fine

file="$work/www/big.bin"
[ "$(stat -c %s "$file" 2>/dev/null || echo 0)" -eq $((size_mb * 1024 * 1024)) ] ||
  head -c $((size_mb * 1024 * 1024)) /dev/urandom >"$file"

out=$(mktemp -d /dev/shm/download_bench.XXXXXX)
python3 -m http.server "$port" --bind 127.0.0.1 --directory "$work/www" >/dev/null 2>&1 &
server=$!
trap 'kill $server 2>/dev/null; rm -rf "$out"' EXIT
# Wait for the server to answer, at most 10 s.
tries=0
until curl -s -o /dev/null "http://127.0.0.1:$port/"; do
  tries=$((tries + 1))
  [ $tries -lt 100 ] || { echo "server did not start" >&2; exit 1; }
  sleep 0.1
done

url="http://127.0.0.1:$port/big.bin"
windows_out="Z:$(printf '%s' "$out/" | tr '/' '\\')"
results="$work/results.txt"
: >"$results"
round=1
while [ $round -le "$rounds" ]; do
  # Into a file: a Wine server that this start brings up keeps the output it inherits open, and a
  # capture through a pipe would wait for it.
  wine "$exe" "$url" "$windows_out" $((round % 2)) >"$out/round.txt"
  tr -d '\r' <"$out/round.txt" >>"$results"
  curl_s=$(curl -s -o "$out/curl.bin" -w '%{time_total}' "$url")
  echo "curl $(awk -v s="$curl_s" 'BEGIN { printf "%.1f", s * 1000 }') $(stat -c %s "$out/curl.bin")" >>"$results"
  rm -f "$out/curl.bin"
  round=$((round + 1))
done

awk -v mb="$size_mb" -v rounds="$rounds" '
  function median(list, n,    sorted, i, j, t) {
    for (i = 1; i <= n; i++) sorted[i] = list[i]
    for (i = 1; i <= n; i++) for (j = i + 1; j <= n; j++) if (sorted[j] < sorted[i]) { t = sorted[i]; sorted[i] = sorted[j]; sorted[j] = t }
    return n % 2 ? sorted[(n + 1) / 2] : (sorted[n / 2] + sorted[n / 2 + 1]) / 2
  }
  $1 == "download" || $1 == "bare" || $1 == "curl" {
    n[$1]++; ms[$1, n[$1]] = $2; all[$1] = all[$1] " " $2
    if ($3 != mb * 1024 * 1024) bad = bad " " $1
  }
  $1 == "reports" { reports = $2 }
  END {
    for (k in n) { for (i = 1; i <= n[k]; i++) l[i] = ms[k, i]; m[k] = median(l, n[k]) }
    printf "%d MB file, %d rounds, median ms (every round)\n", mb, rounds
    printf "DownloadToFile  %8.1f  (%s )  %d progress reports per run\n", m["download"], all["download"], reports
    printf "bare WinINet    %8.1f  (%s )\n", m["bare"], all["bare"]
    printf "curl            %8.1f  (%s )\n", m["curl"], all["curl"]
    # The two WinINet sides of a round ran back to back in one process: their ratio, round by
    # round, is the steadier figure on a busy machine.
    for (i = 1; i <= n["download"]; i++) paired[i] = ms["download", i] / ms["bare", i]
    printf "DownloadToFile / bare WinINet = %.3f (of medians), %.3f (median of the rounds) (goal: at most 1.05)\n",
           m["download"] / m["bare"], median(paired, n["download"])
    printf "DownloadToFile / curl         = %.3f\n", m["download"] / m["curl"]
    printf "bare WinINet / curl           = %.3f\n", m["bare"] / m["curl"]
    if (bad != "") { printf "wrong size from:%s\n", bad; exit 1 }
  }' "$results"
