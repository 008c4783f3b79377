#!/usr/bin/env bash
# Runs every benchmark that has been built and prints its figures.
set -uo pipefail
build=${1:-build/default}
shopt -s nullglob
for b in "$build"/bench/*; do
    [[ -x $b ]] || continue
    echo "== $(basename "$b")"
    "$b"
done
echo "== kurs-rates-server against nginx"
"$(dirname "$0")/rates-server/bench-http.sh" "$build"
echo "== kurs-rates-server XML against nginx"
"$(dirname "$0")/rates-server/bench-xml.sh" "$build"
