#!/usr/bin/env bash
# Serves ROOT with Debian's nginx on 127.0.0.1:PORT in the foreground, one worker, until it gets
# SIGTERM. Its configuration, pid file, logs and temporary files live in WORK. RATE, when given,
# limits every response (nginx syntax, such as "2m"). The tests, the install benchmark and the
# demo all start nginx through this script, so they serve alike.
#
#   scripts/serve-nginx.sh ROOT WORK PORT [RATE]
#
# The access log has one line per request: "<uri> <status> <body bytes sent> <connection>".
set -euo pipefail
if [ $# -lt 3 ]; then
  echo "usage: $0 ROOT WORK PORT [RATE]" >&2
  exit 2
fi
root=$(cd "$1" && pwd)
mkdir -p "$2/temp"
work=$(cd "$2" && pwd)
port=$3
rate=${4:-}

# Running as root, the worker would switch to an account that cannot read private temporary
# directories.
user_line=""
[ "$(id -u)" -eq 0 ] && user_line="user root;"
rate_line=""
# Small sends keep each response at the rate also over its first second, which nginx would
# otherwise send at once.
[ -n "$rate" ] && rate_line="limit_rate $rate; sendfile_max_chunk 16k;"

cat >"$work/nginx.conf" <<CONF
$user_line
worker_processes 1;
daemon off;
error_log $work/error.log warn;
pid $work/nginx.pid;
events { worker_connections 256; }
http {
  log_format requests '\$request_uri \$status \$body_bytes_sent \$connection';
  access_log $work/access.log requests;
  client_body_temp_path $work/temp; proxy_temp_path $work/temp;
  fastcgi_temp_path $work/temp; uwsgi_temp_path $work/temp; scgi_temp_path $work/temp;
  default_type application/octet-stream;
  sendfile on;
  tcp_nopush on;
  keepalive_requests 100000;
  server {
    listen 127.0.0.1:$port;
    root $root;
    $rate_line
  }
}
CONF
# exec: whoever started the script holds nginx itself, and its SIGTERM is nginx's fast shutdown.
exec /usr/sbin/nginx -p "$work" -c "$work/nginx.conf" -e "$work/error.log"
