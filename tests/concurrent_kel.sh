#!/bin/sh
# Four knotfit runs at once on distinct inputs, all writing into one KEL tree,
# as the jobs of a job array do: every file in the shared tree must equal,
# byte for byte, what its input writes when it runs alone, and nothing else
# may be left there.
#   sh concurrent_kel.sh KNOTFIT WORK_DIR
set -eu
knotfit=$1
work=$2
rm -rf "$work"
mkdir -p "$work/expected" "$work/shared/CS/plot"

for i in 1 2 3 4; do
  # 300 data sets of 10 to 39 points named set<i>-<k>, the middle one of
  # 100000 points, so that the four runs overlap while they write.
  awk -v i="$i" 'BEGIN {
    for (k = 0; k < 300; k++) {
      n = k == 150 ? 100000 : 10 + (7 * k + i) % 30
      for (j = 0; j < n; j++) printf "%d %.6f\n", j, sin(0.1 * i * j + k)
      printf "NAME set%d-%d\n", i, k
    }
  }' >"$work/in$i"
  mkdir -p "$work/alone$i/CS/plot"
  TROV_KEL="$work/alone$i" timeout 60 "$knotfit" "$work/in$i" >/dev/null
  cp -R "$work/alone$i/." "$work/expected/"
done

pids=
for i in 1 2 3 4; do
  TROV_KEL="$work/shared" timeout 60 "$knotfit" "$work/in$i" >/dev/null &
  pids="$pids $!"
done
failed=0
for pid in $pids; do
  wait "$pid" || failed=1
done
[ "$failed" = 0 ] || { echo "a concurrent run failed"; exit 1; }

diff -rq "$work/expected" "$work/shared" | head -n 20 >"$work/differences"
if [ -s "$work/differences" ]; then
  cat "$work/differences"
  exit 1
fi
echo "$(find "$work/shared" -type f | wc -l) files identical"
rm -rf "$work"
