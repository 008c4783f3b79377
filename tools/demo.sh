#!/usr/bin/env bash
# Starts the bundled rates server on a free loopback port, asks it for the
# rates of 07.12.2000 through kurs-report, prints the report, stops the server.
set -euo pipefail
build=${1:-build/default}
server=$build/tools/rates-server/kurs-rates-server
report=$build/app/kurs-report
if [[ ! -x $server || ! -x $report ]]; then
    echo "kurs demo: the rates server and kurs-report are not built yet."
    echo "kurs demo: once they are, this runs: kurs-report --server 127.0.0.1:PORT --date 07.12.2000"
    exit 0
fi
port=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])')
"$server" --listen 127.0.0.1:"$port" &
pid=$!
trap 'kill $pid 2>/dev/null; wait $pid 2>/dev/null || true' EXIT
for _ in $(seq 50); do
    (exec 3<>/dev/tcp/127.0.0.1/"$port") 2>/dev/null && break
    sleep 0.1
done
echo "kurs demo: rates of 07.12.2000 from the bundled rates server on 127.0.0.1:$port"
echo
XDG_CONFIG_HOME=$(mktemp -d) "$report" --server 127.0.0.1:"$port" --date 07.12.2000
if [[ -n ${DISPLAY:-}${WAYLAND_DISPLAY:-} ]]; then
    echo
    echo "To open the window against this server: start $build/tools/rates-server/kurs-rates-server --listen 127.0.0.1:$port,"
    echo "then run $build/app/kurs, choose Настройки and type 127.0.0.1:$port as the server."
fi
