#!/usr/bin/env bash
# Installs the Debian package that `make package` made, checks what it holds,
# runs the installed programs against each other on a free loopback port,
# checks that the rates socket is enabled, and purges the package again.
# Runs as root (apt-get) on a machine where kurs is not installed.
#
#   packaging/package-test.sh [BUILD_DIR]      (default build/default)
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build/default}
export DEBIAN_FRONTEND=noninteractive

say() { echo "package test: $*"; }
fail() {
    echo "package test: FAILED: $*" >&2
    exit 1
}

[[ $(id -u) == 0 ]] || fail "run as root: it installs and purges the package with apt-get"
if dpkg-query -W -f='${Status}' kurs 2>/dev/null | grep -q 'install ok installed'; then
    fail "kurs is installed already; the test would replace and then purge it"
fi
shopt -s nullglob
debs=("$build"/kurs_*.deb)
shopt -u nullglob
((${#debs[@]} == 1)) || fail "want one kurs_*.deb in $build, found ${#debs[@]}; run 'make package'"
deb=$(realpath "${debs[0]}")

work=$(mktemp -d)
server_pid=
installed=false
cleanup() {
    local status=$?
    if [[ -n $server_pid ]]; then
        kill "$server_pid" 2>/dev/null || true
        wait "$server_pid" 2>/dev/null || true
    fi
    if $installed; then
        apt-get purge -y -qq kurs >/dev/null 2>&1 || echo "package test: could not purge kurs" >&2
    fi
    rm -rf "$work"
    exit "$status"
}
trap cleanup EXIT

# --- what the package holds ---------------------------------------------------
say "$deb"
dpkg-deb -c "$deb" | awk '{print $6}' >"$work/contents"
for path in ./usr/bin/kurs ./usr/bin/kurs-report ./usr/bin/kurs-rates-server \
    ./usr/share/kurs/bank-rates.txt.gz ./usr/share/applications/kurs.desktop \
    ./usr/share/icons/hicolor/scalable/apps/kurs.svg \
    ./usr/lib/systemd/system/kurs-rates-server.socket \
    ./usr/lib/systemd/system/kurs-rates-server.service; do
    grep -qxF "$path" "$work/contents" || fail "the package lacks $path"
done
depends=$(dpkg-deb -f "$deb" Depends)
say "Depends: $depends"
for library in libc6 libstdc++6 libqt6widgets6; do
    [[ $depends == *"$library "* || $depends == *"$library," || $depends == *"$library" ]] ||
        fail "the package does not depend on $library"
done

# systemd-analyze checks the units; the systemd package brings it and works
# without systemd running, as in a container.
if ! command -v systemd-analyze >/dev/null; then
    say "installing systemd for systemd-analyze"
    apt-get install -y -qq --no-install-recommends systemd >/dev/null ||
        say "systemd could not be installed; the units are not verified"
fi

# --- installation -----------------------------------------------------------------
installed=true
apt-get install -y -qq "$deb" >"$work/apt.log" 2>&1 || {
    cat "$work/apt.log" >&2
    fail "apt-get install $deb"
}
say "installed"

units=/usr/lib/systemd/system
grep -qx 'ExecStart=/usr/bin/kurs-rates-server .*' "$units/kurs-rates-server.service" ||
    fail "the service does not start /usr/bin/kurs-rates-server"
grep -qx 'ListenStream=127.0.0.1:80' "$units/kurs-rates-server.socket" ||
    fail "the socket does not listen on 127.0.0.1:80"
if command -v systemd-analyze >/dev/null; then
    systemd-analyze verify "$units/kurs-rates-server.socket" "$units/kurs-rates-server.service" ||
        fail "systemd-analyze verify"
    # Exposure on a scale of 0 to 100: the service must stay well hardened.
    systemd-analyze security --offline=true --threshold=20 --no-pager \
        "$units/kurs-rates-server.service" >"$work/security" 2>&1 || {
        cat "$work/security" >&2
        fail "systemd-analyze security: the service is exposed more than 2.0"
    }
    say "units verified; $(tail -n 1 "$work/security")"
else
    say "systemd-analyze is not available; the units are not verified"
fi

# The socket is enabled: systemctl reads that from the files without systemd
# running; without systemctl the link the post-install step made tells.
wants=/etc/systemd/system/sockets.target.wants/kurs-rates-server.socket
if command -v systemctl >/dev/null; then
    state=$(systemctl is-enabled kurs-rates-server.socket 2>&1 || true)
    [[ $state == enabled ]] || fail "systemctl is-enabled kurs-rates-server.socket says '$state'"
fi
[[ -L $wants && -e $wants ]] || fail "$wants is not a link to the socket unit"
say "kurs-rates-server.socket is enabled"

# --- the installed programs ---------------------------------------------------------
# The server finds its data beside itself, in /usr/share/kurs, and picks a free port.
coproc RATES { exec /usr/bin/kurs-rates-server --listen 127.0.0.1:0 2>"$work/server.err"; }
server_pid=$RATES_PID
line=
if ! read -r -t 60 line <&"${RATES[0]}" || [[ $line != "kurs-rates-server: listening on 127.0.0.1:"* ]]; then
    cat "$work/server.err" >&2 || true
    fail "the installed rates server did not start: ${line:-no answer}"
fi
port=${line##*:}
say "installed rates server on 127.0.0.1:$port"

status=0
XDG_CONFIG_HOME=$work/config /usr/bin/kurs-report --server "127.0.0.1:$port" --date 07.12.2000 \
    >"$work/report" 2>"$work/report.err" || status=$?
cat "$work/report"
[[ $status == 0 ]] || {
    cat "$work/report.err" >&2
    fail "kurs-report exited with $status"
}
grep -q '07\.12\.2000.*установил' "$work/report" || fail "the report has no date line"

# The bank's official figures of 07.12.2000, from the history the package carries.
for figure in '1 Доллар США = 27,9300' '1 ЕВРО = 24,5600' '1 Немецкая марка = 12,5600' \
    '10 Финляндских марок = 41,3000'; do
    grep -qx " *$figure" "$work/report" || fail "the report lacks '$figure'"
done
say "the report holds the official rates of 07.12.2000"

kill "$server_pid"
wait "$server_pid" || fail "the rates server did not stop cleanly on SIGTERM"
server_pid=

# --- removal ---------------------------------------------------------------------------
apt-get purge -y -qq kurs >"$work/apt.log" 2>&1 || {
    cat "$work/apt.log" >&2
    fail "apt-get purge kurs"
}
installed=false
for path in /usr/bin/kurs-rates-server "$units/kurs-rates-server.socket" /usr/share/kurs; do
    [[ ! -e $path ]] || fail "$path is still there after the purge"
done
[[ ! -L $wants ]] || fail "$wants is still there after the purge"
say "purged; all done"
