#!/usr/bin/env bash
# Tries the Debian package that `make package` made the way an administrator
# meets it: checks what it holds; installs an older kurs, then this one over
# it while another program holds 127.0.0.1:80 (the installation must succeed
# and say so in one line); runs the installed programs against each other;
# moves the rates service to another port with a systemd drop-in; removes the
# package, then purges it, and checks that nothing of it is left.
# Runs as root (apt-get) on a machine where kurs is not installed.  Where
# systemd does not run (a container) the units are checked from their files.
#
#   packaging/package-test.sh [DIR]      (default build/package)
set -euo pipefail
cd "$(dirname "$0")/.."
dir=${1:-build/package}
export DEBIAN_FRONTEND=noninteractive

say() { echo "package test: $*"; }
fail() {
    echo "package test: FAILED: $*" >&2
    exit 1
}

[[ $(id -u) == 0 ]] || fail "run as root: it installs and purges the package with apt-get"
if dpkg-query -W -f='${Status}' kurs 2>/dev/null | grep -q 'ok installed'; then
    fail "kurs is installed already; the test would replace and then purge it"
fi
shopt -s nullglob
debs=("$dir"/kurs_*.deb)
shopt -u nullglob
((${#debs[@]} == 1)) || fail "want one kurs_*.deb in $dir, found ${#debs[@]}; run 'make package'"
deb=$(realpath "${debs[0]}")

work=$(mktemp -d)
pids=()
installed=false
dropin=/etc/systemd/system/kurs-rates-server.socket.d
cleanup() {
    local status=$?
    for pid in "${pids[@]}"; do
        kill "$pid" 2>/dev/null || true
        wait "$pid" 2>/dev/null || true
    done
    rm -rf "$dropin"
    if $installed; then
        apt-get purge -y -qq kurs >/dev/null 2>&1 || echo "package test: could not purge kurs" >&2
    fi
    rm -rf "$work"
    exit "$status"
}
trap cleanup EXIT

# Every path on the system that names kurs, outside the work trees, and its
# users and groups.  man-db's cache of formatted pages (systemd-analyze
# verify reads the units' manual page) is man-db's own, cleaned by it.
kurs_paths() {
    find /etc /usr /lib /var -xdev -iname '*kurs*' -not -path '/var/tmp/*' \
        -not -path '/var/cache/man/*' 2>/dev/null | sort
    getent passwd | grep -i kurs || true
    getent group | grep -i kurs || true
}
# apt-get ACTION ... KURS quietly, its output kept in $work/apt.log.
apt_get() {
    apt-get "$@" -y -qq >"$work/apt.log" 2>&1 || {
        cat "$work/apt.log" >&2
        fail "apt-get $1 ${*: -1}"
    }
}
apt_install() { apt_get install --allow-downgrades "$1"; }
# Whether nothing listens on 127.0.0.1:80.
port_80_free() {
    python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",80))' 2>/dev/null
}
# Stops the background program started last.
stop_last() {
    kill "${pids[-1]}"
    wait "${pids[-1]}" 2>/dev/null || true
    unset 'pids[-1]'
}
socket_enabled() {
    local wants=/etc/systemd/system/sockets.target.wants/kurs-rates-server.socket state
    state=$(systemctl is-enabled kurs-rates-server.socket 2>&1 || true)
    [[ $state == enabled ]] || fail "systemctl is-enabled kurs-rates-server.socket says '$state'"
    [[ -L $wants && -e $wants ]] || fail "$wants is not a link to the socket unit"
}
# A free loopback port (the kernel picks it).
free_port() {
    python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])'
}
# kurs-report for 07.12.2000 from SERVER (the stored default when empty).
report_of() {
    local server=$1
    XDG_CONFIG_HOME=$work/config /usr/bin/kurs-report ${server:+--server "$server"} \
        --date 07.12.2000 >"$work/report" 2>"$work/report.err"
}
check_official_rates() {
    grep -q '07\.12\.2000.*установил' "$work/report" || fail "the report has no date line"
    # The bank's figures of 07.12.2000, from the history the package carries.
    for figure in '1 Доллар США = 27,9300' '1 ЕВРО = 24,5600' '1 Немецкая марка = 12,5600' \
        '10 Финляндских марок = 41,3000'; do
        grep -qx " *$figure" "$work/report" || fail "the report lacks '$figure'"
    done
}

# systemd-analyze and systemctl read the units without systemd running.
if ! command -v systemd-analyze >/dev/null; then
    say "installing systemd for systemd-analyze"
    apt-get install -y -qq --no-install-recommends systemd >/dev/null
fi

# --- what the package holds ---------------------------------------------------
say "$deb"
dpkg-deb -c "$deb" | awk '{print $6}' >"$work/contents"
for path in ./usr/bin/kurs ./usr/bin/kurs-report ./usr/bin/kurs-rates-server \
    ./usr/share/kurs/bank-rates.txt.gz ./usr/share/applications/kurs.desktop \
    ./usr/share/metainfo/invalid.kurs.kurs.metainfo.xml \
    ./usr/share/icons/hicolor/scalable/apps/kurs.svg \
    ./usr/share/icons/hicolor/{16x16,32x32,48x48,64x64,128x128,256x256}/apps/kurs.png \
    ./usr/share/man/man1/kurs.1.gz ./usr/share/man/man1/kurs-report.1.gz \
    ./usr/share/man/man8/kurs-rates-server.8.gz \
    ./usr/share/doc/kurs/copyright ./usr/share/doc/kurs/changelog.Debian.gz \
    ./lib/systemd/system/kurs-rates-server.socket ./lib/systemd/system/kurs-rates-server.service; do
    grep -qxF "$path" "$work/contents" || fail "the package lacks $path"
done
depends=$(dpkg-deb -f "$deb" Depends)
say "Depends: $depends"
for library in libc6 libstdc++6 libqt6widgets6; do
    [[ ", $depends," == *", $library "* || ", $depends," == *", $library,"* ]] ||
        fail "the package does not depend on $library"
done

# --- an older kurs, then this one over it while 127.0.0.1:80 is taken ----------
kurs_paths >"$work/paths.before"
mkdir "$work/older"
dpkg-deb -R "$deb" "$work/older/root"
sed -i 's/^Version: .*/Version: 0.99-1/' "$work/older/root/DEBIAN/control"
dpkg-deb -b --root-owner-group "$work/older/root" "$work/older/kurs_0.99-1.deb" >/dev/null
installed=true
apt_install "$work/older/kurs_0.99-1.deb"
socket_enabled
say "installed kurs 0.99-1; the socket is enabled"

# Another web server on 127.0.0.1:80 (when the port is free; else whatever
# holds it plays that part).
mkdir -p "$work/www/markets/scripts"
echo "<html><body>another web server</body></html>" >"$work/www/markets/scripts/val_res1a.asp"
if port_80_free; then
    python3 -m http.server 80 --bind 127.0.0.1 --directory "$work/www" >"$work/www.log" 2>&1 &
    pids+=($!)
    for _ in $(seq 100); do
        port_80_free || break
        sleep 0.1
    done
fi
apt_install "$deb"
[[ $(dpkg-query -W -f='${Version}' kurs) == "$(dpkg-deb -f "$deb" Version)" ]] ||
    fail "the upgrade did not install $(dpkg-deb -f "$deb" Version)"
[[ $(grep -c '127.0.0.1:80 is taken' "$work/apt.log") == 1 ]] || {
    cat "$work/apt.log" >&2
    fail "the installation did not say once that 127.0.0.1:80 is taken"
}
say "upgraded to $(dpkg-deb -f "$deb" Version) with 127.0.0.1:80 taken; apt said:"
grep '127.0.0.1:80 is taken' "$work/apt.log"
socket_enabled
# The window's default address now reaches the other server (whose page
# holds no rates, so the report says it found none).
report_of "" || true
if [[ -s $work/www.log ]]; then
    grep -q 'GET /markets/scripts/val_res1a.asp?date_req=07.12.2000' "$work/www.log" ||
        fail "the default address did not reach the other server"
    say "the default address reaches the other web server: $(tail -n 1 "$work/www.log")"
    stop_last
fi

units=/lib/systemd/system
grep -qx 'ExecStart=/usr/bin/kurs-rates-server .*' "$units/kurs-rates-server.service" ||
    fail "the service does not start /usr/bin/kurs-rates-server"
grep -qx 'ListenStream=127.0.0.1:80' "$units/kurs-rates-server.socket" ||
    fail "the socket does not listen on 127.0.0.1:80"
systemd-analyze verify "$units/kurs-rates-server.socket" "$units/kurs-rates-server.service" ||
    fail "systemd-analyze verify"
# Exposure on a scale of 0 to 100: the service must stay well hardened.
systemd-analyze security --offline=true --threshold=20 --no-pager \
    "$units/kurs-rates-server.service" >"$work/security" 2>&1 || {
    cat "$work/security" >&2
    fail "systemd-analyze security: the service is exposed more than 2.0"
}
say "units verified; $(tail -n 1 "$work/security")"

# --- the installed programs ---------------------------------------------------------
# Built with the distribution's hardening: PIE, stack protector, FORTIFY,
# RELRO, BIND_NOW.  The code is also built for control-flow protection, but
# Debian 12's C start files carry no such mark, so no program linked with
# them has it: that check is left out.
if command -v hardening-check >/dev/null; then
    hardening-check --nocfprotection /usr/bin/kurs /usr/bin/kurs-report /usr/bin/kurs-rates-server >"$work/hardening" || {
        cat "$work/hardening" >&2
        fail "hardening-check"
    }
    say "hardening-check passes on the three programs"
fi
for program in kurs kurs-report kurs-rates-server; do
    version=$(env -u DISPLAY -u WAYLAND_DISPLAY "/usr/bin/$program" --version)
    [[ $version == "$program $(dpkg-deb -f "$deb" Version | sed 's/-[^-]*$//')" ]] ||
        fail "$program --version says '$version'"
done
# The server finds its data in /usr/share/kurs and picks a free port.
coproc RATES { exec /usr/bin/kurs-rates-server --listen 127.0.0.1:0 2>"$work/server.err"; }
pids+=("$RATES_PID")
line=
if ! read -r -t 60 line <&"${RATES[0]}" || [[ $line != "kurs-rates-server: listening on 127.0.0.1:"* ]]; then
    cat "$work/server.err" >&2 || true
    fail "the installed rates server did not start: ${line:-no answer}"
fi
port=${line##*:}
status=0
report_of "127.0.0.1:$port" || status=$?
[[ $status == 0 ]] || {
    cat "$work/report.err" >&2
    fail "kurs-report exited with $status"
}
cat "$work/report"
check_official_rates
say "the report holds the official rates of 07.12.2000"
kill "$RATES_PID"
wait "$RATES_PID" || fail "the rates server did not stop cleanly on SIGTERM"
unset 'pids[-1]'

# --- another port for the service, with a drop-in --------------------------------------
port=$(free_port)
mkdir -p "$dropin"
printf '[Socket]\nListenStream=\nListenStream=127.0.0.1:%s\n' "$port" >"$dropin/port.conf"
systemd-analyze verify "$units/kurs-rates-server.socket" >/dev/null ||
    fail "systemd-analyze verify with the drop-in"
# systemd would now hand the service a socket on that port; so does this.
systemd-socket-activate -l "127.0.0.1:$port" /usr/bin/kurs-rates-server >"$work/activate.log" 2>&1 &
pids+=($!)
for _ in $(seq 100); do
    grep -q "Listening on" "$work/activate.log" && break
    sleep 0.1
done
report_of "127.0.0.1:$port" || {
    cat "$work/report.err" "$work/activate.log" >&2
    fail "kurs-report through the socket on the drop-in's port"
}
check_official_rates
say "with the drop-in's ListenStream=127.0.0.1:$port the socket-activated service answers"
stop_last
rm -rf "$dropin"

# --- removal, then purge -----------------------------------------------------------------
apt_get remove kurs
for path in /usr/bin/kurs /usr/bin/kurs-rates-server "$units/kurs-rates-server.socket" \
    "$units/kurs-rates-server.service" /usr/share/kurs; do
    [[ ! -e $path ]] || fail "$path is still there after the removal"
done
say "removed; what is left until the purge:"
kurs_paths | comm -13 "$work/paths.before" - | sed 's/^/  /'
apt_get purge kurs
installed=false
kurs_paths >"$work/paths.after"
if ! diff "$work/paths.before" "$work/paths.after"; then
    fail "the purge left the paths above"
fi
say "purged; nothing of kurs is left; all done"
