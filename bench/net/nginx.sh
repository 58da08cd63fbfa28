# Sourced by the HTTP benchmark cases: nginx on a free loopback port, serving
# a folder, as one process (no workers) that is stopped by its process id.
#   nginx_start ROOT STATEDIR   sets NGINX_PID and NGINX_PORT
#   nginx_stop

free_port() {
  python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])'
}

nginx_start() {
  local root=$1 dir=$2
  mkdir -p "$dir"
  NGINX_PORT=$(free_port)
  cat >"$dir/nginx.conf" <<CONF
daemon off;
master_process off;
pid $dir/nginx.pid;
error_log $dir/error.log warn;
events { worker_connections 256; }
http {
  access_log off;
  default_type application/octet-stream;
  sendfile on;
  client_body_temp_path $dir/client_temp;
  proxy_temp_path $dir/proxy_temp;
  fastcgi_temp_path $dir/fastcgi_temp;
  uwsgi_temp_path $dir/uwsgi_temp;
  scgi_temp_path $dir/scgi_temp;
  server { listen 127.0.0.1:$NGINX_PORT; root $root; }
}
CONF
  nginx -p "$dir/" -e "$dir/error.log" -c "$dir/nginx.conf" >"$dir/nginx.out" 2>&1 &
  NGINX_PID=$!
  for _ in $(seq 100); do
    if (exec 3<>"/dev/tcp/127.0.0.1/$NGINX_PORT") 2>/dev/null; then return 0; fi
    kill -0 "$NGINX_PID" 2>/dev/null || break
    sleep 0.1
  done
  echo "nginx did not start:" >&2
  cat "$dir/nginx.out" "$dir/error.log" >&2 || true
  return 1
}

nginx_stop() {
  if [ -n "${NGINX_PID:-}" ]; then
    kill "$NGINX_PID" 2>/dev/null || true
    wait "$NGINX_PID" 2>/dev/null || true
    NGINX_PID=
  fi
}
