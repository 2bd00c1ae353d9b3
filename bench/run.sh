#!/usr/bin/env bash
# Benchmarks knotfit against a baseline revision, whole process, stdout to a
# file: W1 (one data set of 2,000,000 points) and W2 (20,000 data sets of 20
# points), medians of paired runs, peak memory, the cat floor of W1, then the
# microbenchmarks and the fit of 1,000,000 knots against SciPy (if installed).
#
#   bench/run.sh [BASELINE_REV] [RUNS]
#
# BASELINE_REV defaults to the first commit, the plain stdio build. It is
# built in a temporary git worktree. Work files go to $BENCH_DIR, else
# /dev/shm (so that the disk's writeback does not decide the figures).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
base_rev=${1:-$(git -C "$root" rev-list --max-parents=0 HEAD | tail -n 1)}
runs=${2:-5}
scratch=${BENCH_DIR:-/dev/shm}
[ -d "$scratch" ] || scratch=/tmp
work=$(mktemp -d "$scratch/knotfit-bench.XXXXXX")
cleanup() {
  git -C "$root" worktree remove --force "$work/base-src" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

echo "building the working tree and $base_rev ..."
cmake -S "$root" -B "$work/cur" -DCMAKE_BUILD_TYPE=Release -DKNOTFIT_TESTS=OFF \
  -DKNOTFIT_BENCH=ON >/dev/null
cmake --build "$work/cur" -j 2 >/dev/null
git -C "$root" worktree add --detach "$work/base-src" "$base_rev" >/dev/null 2>&1
cmake -S "$work/base-src" -B "$work/base" -DCMAKE_BUILD_TYPE=Release \
  -DKNOTFIT_TESTS=OFF >/dev/null
cmake --build "$work/base" --target knotfit -j 2 >/dev/null
cur=$work/cur/knotfit
base=$work/base/knotfit
measure=$work/cur/bench/measure

"$work/cur/bench/gen_workload" w1 >"$work/w1.txt"
"$work/cur/bench/gen_workload" w2 >"$work/w2.txt"

median() { sort -g | awk '{v[NR] = $1} END {print v[int((NR + 1) / 2)]}'; }
ratio() { awk -v a="$1" -v b="$2" 'BEGIN {print a / b}'; }

# run TAG BINARY WORKLOAD: one run in a fresh KEL tree; appends "wall rss".
run() {
  local kel=$work/kel.$1.$3
  rm -rf "$kel"
  mkdir -p "$kel/CS/plot"
  TROV_KEL=$kel "$measure" "$work/out.$1.$3" "$2" "$work/$3.txt" |
    awk -v f="$work/times.$1.$3" '$3 != 0 {print "status " $3 > "/dev/stderr"; exit 1}
      {print $1, $2 >> f}'
}

for workload in w1 w2; do
  for ((i = 1; i <= runs; i++)); do
    if ((i % 2)); then
      run base "$base" $workload
      run cur "$cur" $workload
    else
      run cur "$cur" $workload
      run base "$base" $workload
    fi
  done
  if cmp -s "$work/out.base.$workload" "$work/out.cur.$workload" &&
    diff -r "$work/kel.base.$workload" "$work/kel.cur.$workload" >/dev/null; then
    echo "$workload: output byte-identical to the baseline"
  else
    echo "$workload: OUTPUT DIFFERS from the baseline" >&2
    exit 1
  fi
done

# The I/O floor of W1: read the input, write the same bytes with cat.
floor=$work/floor
: >"$work/times.floor"
for ((i = 1; i <= runs; i++)); do
  rm -rf "$floor" && mkdir -p "$floor"
  "$measure" /dev/null sh -c "cat '$work/w1.txt' >/dev/null &&
    cat '$work/out.cur.w1' >'$floor/out' &&
    cat '$work/kel.cur.w1/CS/w1' >'$floor/table' &&
    cat '$work/kel.cur.w1/CS/plot/w1' >'$floor/plot'" |
    awk '{print $1}' >>"$work/times.floor"
done

echo
printf '%-10s %12s %12s %9s %14s %14s\n' workload "baseline s" "knotfit s" speedup \
  "base RSS KiB" "RSS KiB"
for workload in w1 w2; do
  b=$(awk '{print $1}' "$work/times.base.$workload" | median)
  c=$(awk '{print $1}' "$work/times.cur.$workload" | median)
  brss=$(awk '{print $2}' "$work/times.base.$workload" | median)
  crss=$(awk '{print $2}' "$work/times.cur.$workload" | median)
  printf '%-10s %12s %12s %8.2fx %14s %14s\n' "$workload" "$b" "$c" \
    "$(ratio "$b" "$c")" "$brss" "$crss"
done
f=$(median <"$work/times.floor")
c=$(awk '{print $1}' "$work/times.cur.w1" | median)
printf 'W1 cat floor %s s: knotfit takes %.2fx the floor\n' "$f" "$(ratio "$c" "$f")"
echo "W1 input: $(wc -c <"$work/w1.txt") bytes; stdout: $(wc -c <"$work/out.cur.w1") bytes"

echo
if [ -x "$work/cur/bench/micro_bench" ]; then
  "$work/cur/bench/micro_bench" --benchmark_repetitions=3 \
    --benchmark_report_aggregates_only=true 2>/dev/null | grep -E '_median|^-|^Bench'
  fit=$("$work/cur/bench/micro_bench" --benchmark_filter='BM_Fit/1000000$' \
    --benchmark_repetitions=5 --benchmark_report_aggregates_only=true \
    --benchmark_format=csv 2>/dev/null |
    awk -F, '/_median/ {u = $5; d = u == "ns" ? 1e9 : u == "us" ? 1e6 : u == "ms" ? 1e3 : 1; print $3 / d}')
  if /usr/bin/python3 -c 'import scipy' 2>/dev/null; then
    scipy=$(/usr/bin/python3 "$root/bench/scipy_fit.py" 1000000)
    printf 'fit of 1,000,000 knots: knotfit %.4f s, SciPy CubicSpline %s s: %.1fx\n' \
      "$fit" "$scipy" "$(ratio "$scipy" "$fit")"
  else
    echo "SciPy comparison skipped: apt-get install python3-scipy"
  fi
else
  echo "microbenchmarks skipped: apt-get install libbenchmark-dev"
fi
