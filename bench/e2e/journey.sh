# Shared steps of the journey benchmarks (source this file after setting
# src, build and work): a sample setup program of a given size published on
# a local download server, and one timed downloader run.
source "$src/demo/stack.sh"

journey_cleanup() {
  stack_stop
  [ -n "${TRACKER_FOLDER:-}" ] && rm -rf "$TRACKER_FOLDER"
  rm -rf "$work"
}

# journey_server MIB WAIT_TIME: publishes a MIB MiB setup file in $work/server;
# sets BASE_URL, TRACKER_PORT, INFO_HASH and METAINFO.
journey_server() {
  local mib=$1 wait_time=$2 setup="$work/mirelS.setup.exe" pad
  mkdir -p "$work/server" "$work/nginx"
  c++ -std=c++20 -O2 -o "$setup" "$src/demo/setup/mirel-setup.cpp"
  pad=$((mib * 1048576 - $(stat -c %s "$setup")))
  head -c "$pad" /dev/urandom >>"$setup"
  start_nginx "$work/server" "$work/nginx"
  BASE_URL="http://127.0.0.1:$NGINX_PORT/"
  TRACKER_PORT=$(free_port)
  "$src/scripts/publish" --tracker "http://127.0.0.1:$TRACKER_PORT/announce" \
    --wait-time "$wait_time" --piece-size-log 20 --tool "$build/tools/mirel-torrent-info" \
    "$setup" "$BASE_URL" "$work/server" >/dev/null
  rm -f "$setup"
  INFO_HASH=$(head -n1 "$work/server/whitelist")
  METAINFO="$work/server/mirelS.setup.exe.torrent"
  start_tracker "$TRACKER_PORT" "$work/server/whitelist"
}

# journey_downloader NAME: runs a fresh copy of the downloader (offscreen, in
# folders of its own) and prints the seconds from its start to the setup
# program running. Fails when the setup program did not run.
journey_downloader() {
  local run="$work/$1" t0 ran_at pid
  mkdir -p "$run/tmp" "$run/runtime" "$run/app"
  chmod 700 "$run/runtime"
  cp "$build/src/app/mirel-downloader" "$run/app/"
  t0=$(date +%s.%N)
  env QT_QPA_PLATFORM=offscreen TMPDIR="$run/tmp" XDG_RUNTIME_DIR="$run/runtime" \
    MIREL_SERVER_URL="$BASE_URL" MIREL_SETUP_MARKER="$run/setup-ran" \
    "$run/app/mirel-downloader" >"$run/downloader.log" 2>&1 &
  pid=$!
  stack_pids+=("$pid")
  wait_until 600 sh -c "[ -f '$run/setup-ran' ] || ! kill -0 $pid 2>/dev/null" || true
  if [ ! -f "$run/setup-ran" ]; then
    echo "the setup program did not run; the downloader's output:" >&2
    cat "$run/downloader.log" >&2
    return 1
  fi
  ran_at=$(sed -n 's/^time=//p' "$run/setup-ran")
  wait "$pid" 2>/dev/null || true
  cmp -s "$run/app/mirelS.setup.exe" "$work/server/mirelS.setup.exe" || {
    echo "the opened setup file differs from the published one" >&2
    return 1
  }
  awk -v a="$t0" -v b="$ran_at" 'BEGIN { printf "%.3f", b - a }'
}

# journey_line NAME OURS REFERENCE: the benchmark's last line.
journey_line() {
  awk -v n="$1" -v o="$2" -v r="$3" \
    'BEGIN { printf "%s: ours %.3f s, reference %.3f s, ratio %.3f\n", n, o, r, o / r }'
}
