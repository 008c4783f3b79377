#!/usr/bin/env bash
# kurs-rates-server against Debian's nginx serving the same page as a static
# file, one worker each, measured by the same load tool (ab) with the same
# clients in one run; then the server behind a caching squid; then its start
# time and resident memory with the whole bundled history.  Prints figures,
# asserts nothing.
#
#   bench-http.sh [BUILD_DIR]        (default build/default)
set -uo pipefail
build=${1:-build/default}
server=$build/tools/rates-server/kurs-rates-server
requests=${KURS_BENCH_REQUESTS:-20000}
clients=${KURS_BENCH_CLIENTS:-10}
page=/markets/scripts/val_res1a.asp
query="date_req=07.12.2000"

for tool in ab nginx squid curl; do
    if ! command -v "$tool" >/dev/null && [[ ! -x /usr/sbin/$tool ]]; then
        echo "bench-http: $tool is not installed (make deps installs it); skipped"
        exit 0
    fi
done
[[ -x $server ]] || { echo "bench-http: $server is not built; skipped"; exit 0; }

dir=$(mktemp -d /tmp/kurs-bench-http-XXXXXX)
chmod 0755 "$dir"
pids=()
cleanup() {
    for p in "${pids[@]}"; do kill "$p" 2>/dev/null; done
    wait 2>/dev/null
    rm -rf "$dir"
}
trap cleanup EXIT

free_port() {
    python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])'
}

wait_for_port() {
    for _ in $(seq 1 400); do
        (exec 3<>"/dev/tcp/127.0.0.1/$1") 2>/dev/null && return 0
        sleep 0.025
    done
    return 1
}

# Requests per second that ab measures, or "-".
rps() {
    ab -q -n "$requests" -c "$clients" "$@" 2>/dev/null |
        awk '/^Requests per second/ {print $4; found=1} END {if (!found) print "-"}'
}

ratio() { awk -v a="$1" -v b="$2" 'BEGIN { if (a+0 > 0 && b+0 > 0) printf "%.2f", a / b; else print "-" }'; }

# Its start with the whole history: from exec to the first whole answer,
# the median of five starts.
started=$(python3 - "$server" "$page?$query" <<'EOF'
import socket, statistics, subprocess, sys, time
times = []
for _ in range(5):
    t0 = time.monotonic()
    p = subprocess.Popen([sys.argv[1], "--listen", "127.0.0.1:0"], stdout=subprocess.PIPE)
    port = int(p.stdout.readline().decode().rsplit(":", 1)[1])
    s = socket.create_connection(("127.0.0.1", port))
    s.sendall(("GET %s HTTP/1.0\r\n\r\n" % sys.argv[2]).encode())
    while s.recv(65536):
        pass
    times.append((time.monotonic() - t0) * 1000)
    p.terminate()
    p.wait()
print("%.0f" % statistics.median(times))
EOF
)

# The rates server, whole history.
"$server" --listen 127.0.0.1:0 >"$dir/server.out" 2>&1 &
pids+=($!)
spid=$!
for _ in $(seq 1 400); do
    grep -q "listening on" "$dir/server.out" && break
    sleep 0.005
done
sport=$(sed -n 's/.*listening on 127.0.0.1:\([0-9]*\).*/\1/p' "$dir/server.out")
[[ -n $sport ]] || { echo "bench-http: the server did not start"; cat "$dir/server.out"; exit 0; }
curl -s -o "$dir/page.html" "http://127.0.0.1:$sport$page?$query"

# The same page for nginx as a file.
mkdir -p "$dir/www/markets/scripts" "$dir/nginx"
cp "$dir/page.html" "$dir/www$page"
chmod -R a+rX "$dir/www"
nport=$(free_port)
cat >"$dir/nginx/nginx.conf" <<EOF
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
    default_type "text/html; charset=windows-1251";
    sendfile on;
    server { listen 127.0.0.1:$nport; root $dir/www; }
}
EOF
/usr/sbin/nginx -c "$dir/nginx/nginx.conf" -p "$dir/nginx" 2>"$dir/nginx/stderr" &
pids+=($!)
wait_for_port "$nport" || { echo "bench-http: nginx did not start"; cat "$dir/nginx/stderr"; }

# A caching squid in front of the server.
qport=$(free_port)
chmod 0777 "$dir"
cat >"$dir/squid.conf" <<EOF
http_port 127.0.0.1:$qport
http_access allow all
cache_mem 16 MB
maximum_object_size_in_memory 512 KB
pid_filename $dir/squid.pid
access_log none
cache_log $dir/squid.log
coredump_dir $dir
shutdown_lifetime 0 seconds
cache_effective_user proxy
dns_nameservers 127.0.0.1
EOF
/usr/sbin/squid -N -f "$dir/squid.conf" >"$dir/squid.out" 2>&1 &
pids+=($!)
wait_for_port "$qport" || echo "bench-http: squid did not start"

if cmp -s "$dir/page.html" <(curl -s "http://127.0.0.1:$nport$page?$query"); then
    same="the same bytes"
else
    same="DIFFERENT bytes"
fi
# Warm both, then measure them by turns, three rounds, the best of each (the
# machine may be busy with other work).
rps "http://127.0.0.1:$sport$page?$query" >/dev/null
rps "http://127.0.0.1:$nport$page?$query" >/dev/null
ours=0
theirs=0
best() { printf '%s\n%s\n' "$1" "$2" | grep -v -- - | sort -g | tail -1; }
for _ in 1 2 3; do
    ours=$(best "$ours" "$(rps "http://127.0.0.1:$sport$page?$query")")
    theirs=$(best "$theirs" "$(rps "http://127.0.0.1:$nport$page?$query")")
done
viaSquid=$(rps -X "127.0.0.1:$qport" "http://127.0.0.1:$sport$page?$query")
viaSquidNginx=$(rps -X "127.0.0.1:$qport" "http://127.0.0.1:$nport$page?$query")

rss=$(awk '/VmRSS/ {printf "%.1f", $2 / 1024}' "/proc/$spid/status")
history=$(stat -c %s "$(dirname "$server")/bank-rates.txt.gz")

echo "page $page?$query, $(stat -c %s "$dir/page.html") bytes ($same from both),"
echo "ab -n $requests -c $clients, a connection per request, one worker each:"
printf '  %-34s %10s req/s\n' "kurs-rates-server" "$ours" "nginx-light, the page as a file" "$theirs"
printf '  %-34s %10s\n' "ratio kurs / nginx" "$(ratio "$ours" "$theirs")x (aim >= 1.0)"
echo "through a caching squid (answered from its memory: squid's own speed):"
printf '  %-34s %10s req/s\n' "kurs-rates-server through squid" "$viaSquid" \
    "nginx through squid" "$viaSquidNginx"
echo "kurs-rates-server with the whole history ($history bytes compressed):"
printf '  %-34s %7s ms (aim <= 100)\n' "start to the first answer" "$started"
printf '  %-34s %7s MB (aim <= 40)\n' "resident memory" "$rss"
