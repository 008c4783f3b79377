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

here=$(dirname "${BASH_SOURCE[0]}")
# shellcheck source-path=SCRIPTDIR source=bench-lib.sh
source "$here/bench-lib.sh"
bench_require bench-http ab nginx squid curl
bench_workdir bench-http

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
start_rates_server bench-http
curl -s -o "$dir/page.html" "http://127.0.0.1:$sport$page?$query"

# The same page for nginx as a file.
mkdir -p "$dir/www/markets/scripts"
cp "$dir/page.html" "$dir/www$page"
start_nginx bench-http "text/html; charset=windows-1251"

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
measure_by_turns "http://127.0.0.1:$sport$page?$query" "http://127.0.0.1:$nport$page?$query"
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
