#!/usr/bin/env bash
# Draws docs/methods.png: maps/monotone, a step-like sensor curve rising from
# 0 to 1, fitted by every method of `knotfit -m NAME`, each curve from the
# tool's own plot file. Needs gnuplot (Debian: gnuplot-nox).
#   docs/make_methods_figure.sh [path/to/knotfit]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
knotfit=${1:-$root/build/release/knotfit}
data=$root/maps/monotone
name=monotone
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
# The knots, as the reader pairs the tokens.
tr -s ' \t\r\n' '\n\n\n\n' <"$data" | paste - - | awk '$1 != "NAME"' >"$work/knots"

# One KEL tree per method. A method that refuses the data set (periodic: the
# ends differ) writes no plot file and exits with status 1; its message goes
# into the figure instead of a curve.
plots() { # the gnuplot plot clauses of the methods given
  local clauses="'$work/knots' using 1:2 with points pt 7 ps 1.2 lc rgb 'black' title 'knots'"
  local method dash=0
  for method in "$@"; do
    dash=$((dash + 1))
    if [ -f "$work/$method/CS/plot/$name" ]; then
      clauses+=", '$work/$method/CS/plot/$name' using 1:2 with lines lw 2 dt $dash title '$method'"
    fi
  done
  echo "$clauses"
}
skipped=""
for method in not-a-knot natural clamped periodic pchip akima makima steffen; do
  mkdir -p "$work/$method/CS/plot"
  status=0
  TROV_KEL=$work/$method "$knotfit" -m "$method" "$data" >/dev/null 2>"$work/$method.err" || status=$?
  if [ "$status" -gt 1 ]; then
    cat "$work/$method.err" >&2
    echo "knotfit -m $method failed with status $status" >&2
    exit 1
  fi
  if [ ! -f "$work/$method/CS/plot/$name" ]; then
    # "knotfit: data set 'monotone': <why>; skipped" -> "<why>" (names the method)
    why=$(sed -n "s/^knotfit: data set '$name': \(.*\); skipped$/\1/p" "$work/$method.err")
    skipped+="${skipped:+; }${why:-$method: no plot file}"
  fi
done

gnuplot <<PLOT
set terminal pngcairo size 1200,460 font "sans,10"
set output "$root/docs/methods.png"
set multiplot layout 1,2 title "maps/monotone fitted with knotfit -m NAME${skipped:+ (skipped: $skipped)}"
set grid
set key top left
set xrange [0:8]
set yrange [-0.15:1.15]
set title "C² splines: they overshoot around the step"
plot $(plots not-a-knot natural clamped periodic)
set title "Local C¹ methods: pchip and steffen stay monotone"
plot $(plots pchip akima makima steffen)
unset multiplot
PLOT
echo "wrote $root/docs/methods.png"
