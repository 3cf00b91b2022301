# Shared by the comparison scripts in bench/: a scratch folder with room,
# clean-up of everything started, waiting for a line in a log, nginx as the
# peer (TLS 1.3, a P-256 certificate, the same cipher suite as the device),
# and the device itself. Source it, then call bench_setup NEED_KIB LABEL.

# bench_setup picks the first temporary folder with NEED_KIB free and makes
# $work in it; everything started is stopped and $work removed on exit.
bench_setup() {
  local need_kib=$1 label=$2 candidate
  work=
  for candidate in "${TMPDIR:-/tmp}" /var/tmp "$build"; do
    if [ -d "$candidate" ] && [ "$(df -Pk "$candidate" | awk 'NR==2 {print $4}')" -ge "$need_kib" ]; then
      work=$(mktemp -d "$candidate/$label.XXXXXX")
      break
    fi
  done
  [ -n "$work" ] || { echo "$label: no temporary folder has $((need_kib / 1024 / 1024)) GiB free" >&2; exit 1; }
  # nginx workers drop to an unprivileged user when started as root; they
  # must be able to read the photo folder.
  chmod 755 "$work"
  bench_pids=()
  trap bench_cleanup EXIT
  trap 'exit 130' INT TERM
}

bench_cleanup() {
  local pid
  for pid in "${bench_pids[@]}"; do kill -TERM "$pid" 2>/dev/null || true; done
  for pid in "${bench_pids[@]}"; do
    for _ in $(seq 50); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
    kill -KILL "$pid" 2>/dev/null || true
    wait "$pid" 2>/dev/null || true
  done
  rm -rf "$work"
}

# wait_for FILE PATTERN SECONDS prints the rest of the first line of FILE
# that starts with PATTERN, waiting at most SECONDS.
wait_for() {
  local deadline=$((SECONDS + $3)) found
  while [ $SECONDS -lt "$deadline" ]; do
    found=$(grep -m1 "^$2" "$1" 2>/dev/null || true)
    [ -n "$found" ] && { echo "${found#"$2"}"; return 0; }
    sleep 0.1
  done
  echo "bench: no \"$2\" in $1 within $3 s:" >&2
  cat "$1" >&2
  return 1
}

# start_device LUMENVALE PHOTOS sets device_pid, device_port, fingerprint
# and code, once the library is indexed.
start_device() {
  mkdir -p "$work/data"
  "$1" --headless --data "$work/data" --library "$2" --name "Bench Phone" --listen 127.0.0.1 \
    >"$work/lumenvale.log" 2>&1 &
  device_pid=$!
  bench_pids+=("$device_pid")
  fingerprint=$(wait_for "$work/lumenvale.log" "Fingerprint: " 30)
  device_port=$(wait_for "$work/lumenvale.log" "Listening on port " 30)
  code=$(wait_for "$work/lumenvale.log" "Pairing code: " 30)
  wait_for "$work/lumenvale.log" "Library: " 600 >/dev/null
}

# start_nginx ROOT sets nginx_pid and nginx_port.
start_nginx() {
  mkdir -p "$work/nginx"
  openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes -days 2 -subj /CN=127.0.0.1 \
    -keyout "$work/nginx/key.pem" -out "$work/nginx/cert.pem" 2>/dev/null
  nginx_port=$(python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
  cat >"$work/nginx/nginx.conf" <<CONF
daemon off;
worker_processes auto;
pid $work/nginx/nginx.pid;
error_log $work/nginx/error.log warn;
events { worker_connections 256; }
http {
  access_log off;
  client_body_temp_path $work/nginx/body;
  proxy_temp_path $work/nginx/proxy;
  fastcgi_temp_path $work/nginx/fastcgi;
  uwsgi_temp_path $work/nginx/uwsgi;
  scgi_temp_path $work/nginx/scgi;
  default_type application/octet-stream;
  sendfile on;
  server {
    listen 127.0.0.1:$nginx_port ssl;
    ssl_certificate $work/nginx/cert.pem;
    ssl_certificate_key $work/nginx/key.pem;
    ssl_protocols TLSv1.3;
    ssl_conf_command Ciphersuites TLS_AES_128_GCM_SHA256;
    root $1;
  }
}
CONF
  /usr/sbin/nginx -p "$work/nginx" -c "$work/nginx/nginx.conf" -e "$work/nginx/error.log" &
  nginx_pid=$!
  bench_pids+=("$nginx_pid")
  for _ in $(seq 100); do
    (exec 3<>"/dev/tcp/127.0.0.1/$nginx_port") 2>/dev/null && return 0
    kill -0 "$nginx_pid" 2>/dev/null || { cat "$work/nginx/error.log" >&2; exit 1; }
    sleep 0.1
  done
}
