#!/usr/bin/env bash
# Starts the bundled rates server on a free loopback port, asks it for the
# rates of 07.12.2000 through kurs-report and prints the report.  With a
# graphical display (DISPLAY or WAYLAND_DISPLAY) it then opens the window
# against that server, with settings in a temporary folder, so the user's own
# are not touched.  When the window closes (or without a display, at once)
# the server stops and the temporary folder goes.
# Needs only bash and the built programs.
set -euo pipefail
build=${1:-build/default}
server=$build/tools/rates-server/kurs-rates-server
report=$build/app/kurs-report
window=$build/app/kurs
for program in "$server" "$report"; do
    if [[ ! -x $program ]]; then
        echo "kurs demo: $program is not built; run 'make build' first." >&2
        exit 1
    fi
done

# The server picks a free port itself and says which on its first line.
coproc RATES { exec "$server" --listen 127.0.0.1:0; }
server_pid=$RATES_PID
settings=$(mktemp -d)
cleanup() {
    kill "$server_pid" 2>/dev/null || true
    wait "$server_pid" 2>/dev/null || true
    rm -rf "$settings"
}
trap cleanup EXIT

line=
if ! read -r -t 10 line <&"${RATES[0]}" || [[ $line != *"listening on 127.0.0.1:"* ]]; then
    echo "kurs demo: the rates server did not start: ${line:-no answer}" >&2
    exit 1
fi
port=${line##*:}

echo "kurs demo: rates of 07.12.2000 from the bundled rates server on 127.0.0.1:$port"
echo "kurs demo: $report --server 127.0.0.1:$port --date 07.12.2000"
echo
# A settings folder of its own, so settings stored by the window do not change the demo.
status=0
XDG_CONFIG_HOME=$settings "$report" --server 127.0.0.1:"$port" --date 07.12.2000 || status=$?
echo
echo "kurs demo: these are the bank's official rates as it published them; the server"
echo "kurs demo: bundles its history from 01.07.1992 to 30.12.2023, and eight currencies"
echo "kurs demo: (USD, EUR, CNY, GBP, CHF, THB, TRY, INR) to 22.08.2026."

if [[ -n ${DISPLAY:-}${WAYLAND_DISPLAY:-} && -x $window ]]; then
    # The window's server setting, stored as it stores it itself.
    mkdir -p "$settings/kurs/registry"
    printf 'REGEDIT4\n\n[HKEY_CURRENT_USER\\Software\\kurs\\TForm1]\n"edtServer_Text"="127.0.0.1:%s"\n\n' \
        "$port" >"$settings/kurs/registry/HKEY_CURRENT_USER.reg"
    echo
    echo "kurs demo: the window, against the same server; pick a date up to 30.12.2023"
    echo "kurs demo: (07.12.2000, say) and press «Получить курсы валют».  Close it to end the demo."
    XDG_CONFIG_HOME=$settings "$window" || status=$?
fi
exit "$status"
