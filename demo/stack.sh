# Pieces of a local download server on loopback, for scripts/demo and the
# journey benchmarks (source this file): nginx for the base URL, opentracker
# with its whitelist, an aria2c seeder, and Xvfb. Every process started here is
# recorded and stopped by process id in stack_stop (call it from an EXIT trap).

stack_top=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
stack_pids=()
# /usr/bin/python3 has Debian's PIL; a python3 earlier in PATH may not.
stack_python=/usr/bin/python3

stack_stop() {
  local i pid
  for ((i = ${#stack_pids[@]} - 1; i >= 0; i--)); do
    pid=${stack_pids[$i]}
    kill -TERM "$pid" 2>/dev/null || continue
    for _ in $(seq 50); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
    kill -KILL "$pid" 2>/dev/null || true
    wait "$pid" 2>/dev/null || true
  done
  stack_pids=()
}

free_port() {
  "$stack_python" -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])'
}

# wait_until SECONDS COMMAND...: polls COMMAND every 0.1 s; status 1 on time-out.
wait_until() {
  local deadline=$((SECONDS + $1))
  shift
  until "$@"; do
    [ "$SECONDS" -lt "$deadline" ] || return 1
    sleep 0.1
  done
}

port_accepts() { (exec 3<>"/dev/tcp/127.0.0.1/$1") 2>/dev/null; }

# start_nginx ROOT STATE_DIR: serves ROOT; sets NGINX_PORT and NGINX_LOG.
start_nginx() {
  local root=$1 state=$2 attempt pid
  mkdir -p "$state"
  for attempt in 1 2 3; do
    NGINX_PORT=$(free_port)
    sed -e "s#@STATE@#$state#g" -e "s#@ROOT@#$root#g" -e "s#@PORT@#$NGINX_PORT#g" \
      "$stack_top/demo/nginx.conf.in" >"$state/nginx.conf"
    nginx -p "$state/" -e "$state/error.log" -c "$state/nginx.conf" >>"$state/nginx.out" 2>&1 &
    pid=$!
    stack_pids+=("$pid")
    if wait_until 10 port_accepts "$NGINX_PORT" && kill -0 "$pid" 2>/dev/null; then
      NGINX_LOG=$state/access.log
      return 0
    fi
  done
  echo "nginx did not start; see $state/error.log" >&2
  return 1
}

# served_count NAME: requests for /NAME that nginx answered with 200.
served_count() {
  [ -f "$NGINX_LOG" ] || { echo 0; return; }
  grep -c "\"GET /$1 HTTP/[0-9.]*\" 200 " "$NGINX_LOG" || true
}

# tracker_query PORT HASH announce|scrape: prints what the tracker says.
tracker_query() {
  "$stack_python" - "$@" <<'PY'
import sys, urllib.parse, urllib.request
port, info_hash, what = sys.argv[1], bytes.fromhex(sys.argv[2]), sys.argv[3]
h = urllib.parse.quote_from_bytes(info_hash)
base = f"http://127.0.0.1:{port}"
try:
    if what == "announce":
        q = f"info_hash={h}&peer_id=-MD0001-readinessprb&port=1&uploaded=0&downloaded=0&left=0&compact=1"
        body = urllib.request.urlopen(f"{base}/announce?{q}", timeout=2).read()
        ok = b"5:peers" in body and b"failure reason" not in body
        if ok:
            urllib.request.urlopen(f"{base}/announce?{q}&event=stopped", timeout=2).read()
        print("yes" if ok else "no")
    else:
        body = urllib.request.urlopen(f"{base}/scrape?info_hash={h}", timeout=2).read()
        i = body.find(b"8:completei")
        print(int(body[i + 11:body.index(b"e", i + 11)]) if i >= 0 else -1)
except Exception:
    print("no" if what == "announce" else -1)
PY
}

tracker_accepts() { [ "$(tracker_query "$1" "$2" announce)" = yes ]; }
tracker_has_seeder() { [ "$(tracker_query "$1" "$2" scrape)" -ge 1 ]; }

# start_tracker PORT WHITELIST: opentracker serving the hashes listed. It drops
# to the user nobody, so the list goes to a folder that user can read.
start_tracker() {
  local port=$1 list=$2 folder
  folder=$(mktemp -d /tmp/mirel-tracker-XXXXXX)
  chmod 755 "$folder"
  install -m 644 "$list" "$folder/whitelist"
  (cd "$folder" && exec opentracker -i 127.0.0.1 -p "$port" -P "$port" -w "$folder/whitelist" \
    >"$folder/opentracker.log" 2>&1) &
  stack_pids+=("$!")
  TRACKER_FOLDER=$folder
  # It reads the list a moment after it starts listening.
  wait_until 10 tracker_accepts "$port" "$(head -n1 "$list")" || {
    echo "opentracker did not come up on port $port" >&2
    return 1
  }
}

# start_seeder METAINFO FOLDER LOG [UPLOAD_KIB]: aria2c seeding the complete
# file in FOLDER until stopped.
start_seeder() {
  local metainfo=$1 folder=$2 log=$3 limit=${4:-0}
  local args=(--dir="$folder" --listen-port="$(free_port)" --seed-ratio=0.0
    --bt-enable-lpd=false --enable-dht=false --enable-dht6=false --enable-peer-exchange=false
    --check-integrity=true --file-allocation=none --summary-interval=0
    --console-log-level=notice --bt-tracker-interval=5 --stop-with-process=$$)
  [ "$limit" -gt 0 ] && args+=(--max-overall-upload-limit="${limit}K")
  aria2c "${args[@]}" "$metainfo" >"$log" 2>&1 &
  stack_pids+=("$!")
}

# start_xvfb: Xvfb on a free display number; sets XVFB_DISPLAY.
start_xvfb() {
  local n pid
  for n in $(seq 90 189); do
    [ -e "/tmp/.X11-unix/X$n" ] || [ -e "/tmp/.X$n-lock" ] && continue
    Xvfb ":$n" -screen 0 1024x768x24 -nolisten tcp >/dev/null 2>&1 &
    pid=$!
    stack_pids+=("$pid")
    if wait_until 10 test -e "/tmp/.X11-unix/X$n" && kill -0 "$pid" 2>/dev/null; then
      XVFB_DISPLAY=":$n"
      return 0
    fi
  done
  echo "no free display for Xvfb" >&2
  return 1
}
