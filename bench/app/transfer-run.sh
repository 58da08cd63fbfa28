#!/usr/bin/env bash
# One BitTorrent download run of the real downloader on loopback, for the
# downloader-cpu and downloader-memory benchmarks: a local HTTP server (the
# download server), opentracker with its whitelist, an aria2c seeder held to
# a fixed upload rate (2 MB/s, so 64 MiB take about 32 s), and
# mirel-downloader on the offscreen platform.
#   transfer-run.sh cpu     prints the downloader's CPU (percent of one core)
#                           over 20 s of transfer
#   transfer-run.sh memory  prints the downloader's peak memory (MiB) over the
#                           whole run, to the setup program started
set -euo pipefail
mode=$1
src=${MIREL_SOURCE_DIR:-$(cd "$(dirname "$0")/../.." && pwd)}
build=${MIREL_BENCH_BUILD:-$src/build-bench}
work=$(mktemp -d "${TMPDIR:-/tmp}/mirel-transfer.XXXXXX")
chmod 755 "$work" # opentracker reads its whitelist as nobody
pids=()
cleanup() {
  for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done
  for p in "${pids[@]}"; do wait "$p" 2>/dev/null || true; done
  rm -rf "$work"
}
trap cleanup EXIT
freeport() { /usr/bin/python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])'; }

mkdir -p "$work/www" "$work/seed" "$work/tmp" "$work/run" "$work/own"
chmod 700 "$work/run"
# The setup program: a script that leaves a mark, padded to 64 MiB.
setup="$work/seed/setup.sh"
{ printf '#!/bin/sh\ntouch "%s"\nexit 0\n' "$work/setup-ran"
  head -c 48M /dev/urandom | base64 -w 76 | sed 's/^/#/'; } >"$setup"
truncate -s 64M "$setup"
tport=$(freeport)
mktorrent -l 18 -a "http://127.0.0.1:$tport/announce" -o "$work/www/mirelS.setup.exe.torrent" "$setup" >/dev/null
hash=$("$build/tools/mirel-torrent-info" --json "$work/www/mirelS.setup.exe.torrent" |
  /usr/bin/python3 -c 'import json,sys; print(json.load(sys.stdin)["info_hash"])')
echo "$hash" >"$work/whitelist"
chmod 644 "$work/whitelist"

opentracker -i 127.0.0.1 -p "$tport" -P "$tport" -w "$work/whitelist" >"$work/tracker.log" 2>&1 &
pids+=($!)
escaped=$(echo "$hash" | sed 's/../%&/g')
for _ in $(seq 200); do
  if curl -sf "http://127.0.0.1:$tport/announce?info_hash=$escaped&peer_id=-BENCH-0000000000000&port=1&uploaded=0&downloaded=0&left=1&compact=1" 2>/dev/null | grep -q interval; then
    break
  fi
  sleep 0.05
done

sport=$(freeport)
aria2c -d "$work/seed" --seed-ratio=0.0 --bt-seed-unverified=true --enable-dht=false \
  --enable-dht6=false --bt-enable-lpd=false --enable-peer-exchange=false \
  --listen-port="$sport" --max-overall-upload-limit=2M --console-log-level=warn \
  --summary-interval=0 "$work/www/mirelS.setup.exe.torrent" >"$work/seed.log" 2>&1 &
pids+=($!)

wport=$(freeport)
printf '[Connection]\r\nWaitTime=600\r\n' >"$work/www/Download.ini"
/usr/bin/python3 -m http.server --bind 127.0.0.1 --directory "$work/www" "$wport" >/dev/null 2>&1 &
pids+=($!)
for _ in $(seq 100); do curl -sf "http://127.0.0.1:$wport/Download.ini" >/dev/null && break; sleep 0.05; done

cp "$build/src/app/mirel-downloader" "$work/own/"
QT_QPA_PLATFORM=offscreen TMPDIR="$work/tmp" XDG_RUNTIME_DIR="$work/run" \
  MIREL_SERVER_URL="http://127.0.0.1:$wport/" "$work/own/mirel-downloader" >"$work/downloader.log" 2>&1 &
dl=$!
pids+=($dl)

# Transferring: the engine (the downloader's child) has written real data;
# its file is preallocated, so its size says nothing.
written() {
  local engine
  engine=$(pgrep -P "$dl" | head -1)
  [ -n "$engine" ] && awk '/^wchar:/ { print $2 }' "/proc/$engine/io" 2>/dev/null || echo 0
}
for _ in $(seq 300); do [ "$(written)" -gt 4194304 ] && break; sleep 0.1; done
if [ "$(written)" -le 4194304 ]; then
  echo "no transfer started (see the logs)" >&2
  exit 1
fi

case $mode in
cpu)
  ticks() { awk '{ print $14 + $15 }' "/proc/$dl/stat"; }
  hz=$(getconf CLK_TCK)
  before=$(ticks) t0=$(date +%s%N) w0=$(written)
  sleep 20
  after=$(ticks) t1=$(date +%s%N) w1=$(written)
  [ "$w1" -gt $((w0 + 4194304)) ] || { echo "the transfer did not go on" >&2; exit 1; }
  awk -v d=$((after - before)) -v hz="$hz" -v ns=$((t1 - t0)) \
    'BEGIN { printf "%.2f\n", d / hz / (ns / 1e9) * 100 }'
  ;;
memory)
  peak=0
  while kill -0 "$dl" 2>/dev/null; do
    kb=$(awk '/^VmHWM:/ { print $2 }' "/proc/$dl/status" 2>/dev/null || echo 0)
    [ -n "$kb" ] && [ "$kb" -gt "$peak" ] && peak=$kb
    sleep 0.2
  done
  [ -e "$work/setup-ran" ] || for _ in $(seq 50); do [ -e "$work/setup-ran" ] && break; sleep 0.1; done
  [ -e "$work/setup-ran" ] || { echo "the setup program did not run" >&2; exit 1; }
  awk -v kb="$peak" 'BEGIN { printf "%.1f\n", kb / 1024 }'
  ;;
esac
