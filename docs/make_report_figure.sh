#!/usr/bin/env bash
# Draws docs/report.png: the top of the page `knotfit --report` writes for
# maps/monotone and maps/pdat, as headless Chromium shows it (Debian:
# chromium).
#   docs/make_report_figure.sh [path/to/knotfit]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
knotfit=${1:-$root/build/release/knotfit}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/kel/CS/plot"
# maps/monotone overshoots with the default method: status 0 all the same.
cd "$root"
TROV_KEL=$work/kel "$knotfit" -q --report "$work/report.html" maps/monotone maps/pdat
chromium --headless --no-sandbox --disable-gpu --no-first-run \
  --disable-background-networking --disable-component-update --disable-sync \
  --user-data-dir="$work/profile" --hide-scrollbars --window-size=900,980 \
  --screenshot="$root/docs/report.png" "file://$work/report.html#all" 2>/dev/null
echo "wrote $root/docs/report.png"
