#!/usr/bin/env bash
# Draws docs/pdat.png: the knots of every data set in maps/pdat and the curve
# from knotfit's own plot files. Needs gnuplot (Debian: gnuplot-nox).
#   docs/make_figure.sh [path/to/knotfit]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
knotfit=${1:-$root/build/release/knotfit}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/CS/plot"
TROV_KEL=$work "$knotfit" "$root/maps/pdat" >/dev/null
# One file of knots per data set, as the reader pairs the tokens.
tr -s ' \t\r\n' '\n\n\n\n' <"$root/maps/pdat" | paste - - |
  awk -v dir="$work" '$1 == "NAME" {close(f); f = ""; next}
    {if (f == "") f = dir "/knots." ++k; print > f}'
names=$(tr -s ' \t\r\n' '\n\n\n\n' <"$root/maps/pdat" | paste - - | awk '$1 == "NAME" {print $2}')
set -- $names
gnuplot <<PLOT
set terminal pngcairo size 1200,400 font "sans,10"
set output "$root/docs/pdat.png"
set multiplot layout 1,$# title "maps/pdat: knots and the not-a-knot spline knotfit wrote"
set key top right
set grid
$(k=0; for name in "$@"; do k=$((k + 1)); echo "set title '$name'"; echo "plot '$work/CS/plot/$name' using 1:2 with lines lw 2 title 'CS/plot/$name', '$work/knots.$k' using 1:2 with points pt 7 ps 0.8 title 'knots'"; done)
unset multiplot
PLOT
echo "wrote $root/docs/pdat.png"
