#!/usr/bin/env bash
# kurs-rates-server's XML document of a date against Debian's nginx serving
# the same document as a static file, one worker each, measured by the same
# load tool (ab) with the same clients, by turns in one run.  Prints figures,
# asserts nothing.
#
#   bench-xml.sh [BUILD_DIR]        (default build/default)
set -uo pipefail
build=${1:-build/default}
server=$build/tools/rates-server/kurs-rates-server
requests=${KURS_BENCH_REQUESTS:-20000}
clients=${KURS_BENCH_CLIENTS:-10}
path=/scripts/XML_daily.asp
query="date_req=07/12/2000"

for tool in ab nginx curl; do
    if ! command -v "$tool" >/dev/null && [[ ! -x /usr/sbin/$tool ]]; then
        echo "bench-xml: $tool is not installed (make deps installs it); skipped"
        exit 0
    fi
done
[[ -x $server ]] || { echo "bench-xml: $server is not built; skipped"; exit 0; }

dir=$(mktemp -d /tmp/kurs-bench-xml-XXXXXX)
chmod 0755 "$dir"
pids=()
cleanup() {
    for p in "${pids[@]}"; do kill "$p" 2>/dev/null; done
    wait 2>/dev/null
    rm -rf "$dir"
}
trap cleanup EXIT

rps() {
    ab -q -n "$requests" -c "$clients" "$1" 2>/dev/null |
        awk '/^Requests per second/ {print $4; found=1} END {if (!found) print "-"}'
}
best() { printf '%s\n%s\n' "$1" "$2" | grep -v -- - | sort -g | tail -1; }

"$server" --listen 127.0.0.1:0 >"$dir/server.out" 2>&1 &
pids+=($!)
for _ in $(seq 1 400); do
    grep -q "listening on" "$dir/server.out" && break
    sleep 0.005
done
sport=$(sed -n 's/.*listening on 127.0.0.1:\([0-9]*\).*/\1/p' "$dir/server.out")
[[ -n $sport ]] || { echo "bench-xml: the server did not start"; cat "$dir/server.out"; exit 0; }
mkdir -p "$dir/www/scripts" "$dir/nginx"
curl -s -o "$dir/www$path" "http://127.0.0.1:$sport$path?$query"
chmod -R a+rX "$dir/www"

nport=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])')
cat >"$dir/nginx/nginx.conf" <<CONF
worker_processes 1;
daemon off;
pid $dir/nginx/nginx.pid;
error_log $dir/nginx/error.log;
events { worker_connections 1024; }
http {
    access_log off;
    client_body_temp_path $dir/nginx;
    proxy_temp_path $dir/nginx;
    fastcgi_temp_path $dir/nginx;
    uwsgi_temp_path $dir/nginx;
    scgi_temp_path $dir/nginx;
    default_type "application/xml; charset=windows-1251";
    sendfile on;
    server { listen 127.0.0.1:$nport; root $dir/www; }
}
CONF
/usr/sbin/nginx -c "$dir/nginx/nginx.conf" -p "$dir/nginx" 2>"$dir/nginx/stderr" &
pids+=($!)
for _ in $(seq 1 400); do
    (exec 3<>"/dev/tcp/127.0.0.1/$nport") 2>/dev/null && break
    sleep 0.025
done

ourUrl="http://127.0.0.1:$sport$path?$query"
theirUrl="http://127.0.0.1:$nport$path?$query"
if cmp -s "$dir/www$path" <(curl -s "$theirUrl"); then same="the same bytes"; else same="DIFFERENT bytes"; fi
rps "$ourUrl" >/dev/null
rps "$theirUrl" >/dev/null
ours=0
theirs=0
for _ in 1 2 3; do
    ours=$(best "$ours" "$(rps "$ourUrl")")
    theirs=$(best "$theirs" "$(rps "$theirUrl")")
done

echo "XML $path?$query, $(stat -c %s "$dir/www$path") bytes ($same from both),"
echo "ab -n $requests -c $clients, a connection per request, one worker each:"
printf '  %-34s %10s req/s\n' "kurs-rates-server" "$ours" "nginx-light, the XML as a file" "$theirs"
printf '  %-34s %10s\n' "ratio kurs / nginx" \
    "$(awk -v a="$ours" -v b="$theirs" 'BEGIN { if (a+0 > 0 && b+0 > 0) printf "%.2f", a / b; else print "-" }')x (aim >= 1.0)"
