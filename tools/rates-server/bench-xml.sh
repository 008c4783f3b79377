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

here=$(dirname "${BASH_SOURCE[0]}")
# shellcheck source-path=SCRIPTDIR source=bench-lib.sh
source "$here/bench-lib.sh"
bench_require bench-xml ab nginx curl
bench_workdir bench-xml

start_rates_server bench-xml
mkdir -p "$dir/www/scripts"
curl -s -o "$dir/www$path" "http://127.0.0.1:$sport$path?$query"
start_nginx bench-xml "application/xml; charset=windows-1251"

ourUrl="http://127.0.0.1:$sport$path?$query"
theirUrl="http://127.0.0.1:$nport$path?$query"
if cmp -s "$dir/www$path" <(curl -s "$theirUrl"); then same="the same bytes"; else same="DIFFERENT bytes"; fi
measure_by_turns "$ourUrl" "$theirUrl"

echo "XML $path?$query, $(stat -c %s "$dir/www$path") bytes ($same from both),"
echo "ab -n $requests -c $clients, a connection per request, one worker each:"
printf '  %-34s %10s req/s\n' "kurs-rates-server" "$ours" "nginx-light, the XML as a file" "$theirs"
printf '  %-34s %10s\n' "ratio kurs / nginx" "$(ratio "$ours" "$theirs")x (aim >= 1.0)"
