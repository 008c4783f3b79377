# shellcheck shell=bash disable=SC2154
# Shell functions shared by the rates server's benchmarks (bench-http.sh,
# bench-xml.sh): sourced, not run.  Each takes the calling script's name for
# its messages; $server, $requests and $clients come from the caller.

# Exits 0 with a note when one of the tools is missing.
bench_require() {
    local name=$1 tool
    shift
    for tool in "$@"; do
        if ! command -v "$tool" >/dev/null && [[ ! -x /usr/sbin/$tool ]]; then
            echo "$name: $tool is not installed (make deps installs it); skipped"
            exit 0
        fi
    done
    [[ -x $server ]] || { echo "$name: $server is not built; skipped"; exit 0; }
}

# A temporary folder in $dir, removed on exit with every process in $pids.
bench_workdir() {
    dir=$(mktemp -d "/tmp/kurs-$1-XXXXXX")
    chmod 0755 "$dir"
    pids=()
    trap bench_cleanup EXIT
}

bench_cleanup() {
    for p in "${pids[@]}"; do kill "$p" 2>/dev/null; done
    wait 2>/dev/null
    rm -rf "$dir"
}

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

# The larger of two figures, either of which may be "-".
best() { printf '%s\n%s\n' "$1" "$2" | grep -v -- - | sort -g | tail -1; }

ratio() { awk -v a="$1" -v b="$2" 'BEGIN { if (a+0 > 0 && b+0 > 0) printf "%.2f", a / b; else print "-" }'; }

# The rates server on a port of its choosing: its port in $sport, its process
# in $spid.  Exits 0 with its output when it does not start.
start_rates_server() {
    "$server" --listen 127.0.0.1:0 >"$dir/server.out" 2>&1 &
    spid=$!
    pids+=("$spid")
    for _ in $(seq 1 400); do
        grep -qs "listening on" "$dir/server.out" && break
        sleep 0.005
    done
    sport=$(sed -n 's/.*listening on 127.0.0.1:\([0-9]*\).*/\1/p' "$dir/server.out")
    [[ -n $sport ]] || { echo "$1: the server did not start"; cat "$dir/server.out"; exit 0; }
}

# nginx, one worker, serving $dir/www with the given content type; its port
# in $nport.
start_nginx() {
    local name=$1 type=$2
    mkdir -p "$dir/nginx"
    chmod -R a+rX "$dir/www"
    nport=$(free_port)
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
    default_type "$type";
    sendfile on;
    server { listen 127.0.0.1:$nport; root $dir/www; }
}
CONF
    /usr/sbin/nginx -c "$dir/nginx/nginx.conf" -p "$dir/nginx" 2>"$dir/nginx/stderr" &
    pids+=($!)
    wait_for_port "$nport" || { echo "$name: nginx did not start"; cat "$dir/nginx/stderr"; }
}

# Warms both URLs, then measures them by turns, three rounds, the best of
# each (the machine may be busy with other work): in $ours and $theirs.
measure_by_turns() {
    rps "$1" >/dev/null
    rps "$2" >/dev/null
    ours=0
    theirs=0
    for _ in 1 2 3; do
        ours=$(best "$ours" "$(rps "$1")")
        theirs=$(best "$theirs" "$(rps "$2")")
    done
}
