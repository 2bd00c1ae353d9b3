#!/usr/bin/env bash
# Benchmarks knotfit, whole process, stdout to a file, inputs and outputs on
# tmpfs, paired runs (medians and spread; every other round in the reverse
# order):
#   W1  one data set of 2,000,000 points, against its I/O floor: cat of the
#       input, and of the same stdout, table and plot into fresh files;
#   W2  20,000 data sets of 20 points, against its floor: cp -r of the same
#       output tree over an existing copy (knotfit replaces existing files
#       too) plus cat of the same stdout;
#   both with -j 1 (one thread) and with -j $BENCH_JOBS (default 0: the
#   usable cores), and the speed-up between them; both again with -q; W2
#   with -q and --report, against W2 with -q; peak
#   memory per point on W1 (with -j 1 and with threads); the fit of 1,000,000
#   knots against a chain of as many dependent divisions as the fit's two
#   chains hold (micro_bench); the outputs byte for byte against a
#   baseline revision's (also with -j 2 and -j 8), and W1 and W2 timed with that revision too, paired,
#   so that a change can show it is not slower.
#
#   bench/run.sh [BASELINE_REV] [RUNS]
#
# The smoothing spline has its own: bench/smoothing_scipy.py (its first lines
# say how to run it) checks its targets against SciPy in one run.
# The --report page in a browser has its own too: bench/report_page.py (W2's
# page's first contentful paint and its long tasks while scrolling).
#
# BASELINE_REV defaults to the first commit, the plain stdio build. It is
# built in a temporary git worktree. Work files go to $BENCH_DIR, else
# /dev/shm.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
base_rev=${1:-$(git -C "$root" rev-list --max-parents=0 HEAD | tail -n 1)}
runs=${2:-5}
jobs=${BENCH_JOBS:-0}
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
measure=$work/cur/bench/measure
"$work/cur/gen_workload" w1 >"$work/w1.txt"
"$work/cur/gen_workload" w2 >"$work/w2.txt"

# A fresh KEL tree, or (W2) one that already holds every output file.
tree() {
  rm -rf "$1"
  if [ -n "${2:-}" ]; then cp -r "$2" "$1"; else mkdir -p "$1/CS/plot"; fi
}
# time TAG COMMAND...: appends "wall rss" of one run to $work/t.TAG.
time_it() {
  local tag=$1
  shift
  "$measure" "$work/out.$tag" "$@" | awk -v f="$work/t.$tag" \
    '$3 != 0 {print "status " $3 > "/dev/stderr"; exit 1} {print $1, $2 >> f}'
}

# The baseline's outputs, for the byte-identity check and the floors.
for w in w1 w2; do
  tree "$work/kel.base.$w"
  TROV_KEL=$work/kel.base.$w "$work/base/knotfit" "$work/$w.txt" >"$work/stdout.base.$w"
done
# One timed run, by its tag.
run() {
  case $1 in
  w1 | j1 | b1 | q1)
    tree "$work/kel.$1"
    local bin=$cur opts=(-j 1)
    [ "$1" != j1 ] || opts=(-j "$jobs")
    [ "$1" != b1 ] || { bin=$work/base/knotfit; opts=(); }
    [ "$1" != q1 ] || opts=(-q)
    TROV_KEL=$work/kel.$1 time_it "$1" "$bin" "${opts[@]}" "$work/w1.txt"
    ;;
  floor1)
    tree "$work/floor1"
    time_it floor1 sh -c "cat '$work/w1.txt' >/dev/null &&
      cat '$work/stdout.base.w1' >'$work/floor1/out' &&
      cat '$work/kel.base.w1/CS/w1' >'$work/floor1/table' &&
      cat '$work/kel.base.w1/CS/plot/w1' >'$work/floor1/plot'"
    ;;
  w2 | j2 | b2 | q2 | r2)
    tree "$work/kel.$1" "$work/kel.base.w2"
    local bin=$cur opts=(-j 1)
    [ "$1" != j2 ] || opts=(-j "$jobs")
    [ "$1" != b2 ] || { bin=$work/base/knotfit; opts=(); }
    [ "$1" != q2 ] || opts=(-q)
    [ "$1" != r2 ] || opts=(-q --report "$work/report.html")
    TROV_KEL=$work/kel.$1 time_it "$1" "$bin" "${opts[@]}" "$work/w2.txt"
    ;;
  floor2)
    tree "$work/floor2" "$work/kel.base.w2"
    time_it floor2 sh -c "cp -r '$work/kel.base.w2/.' '$work/floor2/' &&
      cat '$work/stdout.base.w2' >'$work/floor2/out'"
    ;;
  esac
}
# Every other round takes them in the reverse order, so that no run always
# follows the same other one: the machine's drift falls on both of a pair.
order="w1 j1 b1 q1 floor1 w2 j2 b2 q2 r2 floor2"
for ((i = 1; i <= runs; i++)); do
  tags=$order
  ((i % 2)) || tags=$(printf '%s\n' $order | tac)
  for tag in $tags; do
    run "$tag"
  done
done
same() { # same W OUTPUT_FILE KEL_TREE: as the baseline's output?
  cmp -s "$work/stdout.base.$1" "$2" && diff -r "$work/kel.base.$1" "$3" >/dev/null
}
for w in w1 w2; do
  n=${w#w}
  ok=yes
  same "$w" "$work/out.$w" "$work/kel.$w" && same "$w" "$work/out.j$n" "$work/kel.j$n" &&
    diff -r "$work/kel.base.$w" "$work/kel.q$n" >/dev/null || ok=
  for threads in 2 8; do
    if [ "$w" = w2 ]; then tree "$work/kel.t" "$work/kel.base.w2"; else tree "$work/kel.t"; fi
    TROV_KEL=$work/kel.t "$cur" -j $threads "$work/$w.txt" >"$work/out.t"
    same "$w" "$work/out.t" "$work/kel.t" || ok=
  done
  if [ -n "$ok" ]; then
    echo "$w: output byte-identical to $base_rev (-j 1, -j $jobs, -j 2, -j 8, -q)"
  else
    echo "$w: OUTPUT DIFFERS from $base_rev" >&2
    exit 1
  fi
done

stats() { # column of a t.TAG file -> "median min max"
  awk -v c="$2" '{print $c}' "$work/t.$1" | sort -g |
    awk '{v[NR] = $1} END {print v[int((NR + 1) / 2)], v[1], v[NR]}'
}
ratios() { # per-run ratios of two t.TAG files, paired by line
  paste "$work/t.$1" "$work/t.$2" | awk '{print $1 / $3}' | sort -g |
    awk '{v[NR] = $1} END {printf "%.2fx (%.2f-%.2f)", v[int((NR + 1) / 2)], v[1], v[NR]}'
}
echo
echo "medians of $runs paired runs, seconds (min-max):"
for tag in w1 j1 q1 b1 floor1 w2 j2 q2 r2 b2 floor2; do
  read -r med lo hi < <(stats $tag 1)
  printf '  %-7s %8s  (%s-%s)\n' "$tag" "$med" "$lo" "$hi"
done
threads=$jobs
[ "$jobs" != 0 ] || threads="0 = $(nproc)"
echo "W1 -j 1 / its floor:        $(ratios w1 floor1)"
echo "W1 -j $threads / its floor:    $(ratios j1 floor1)   target <= 2.5x"
echo "W1 -q / its floor:          $(ratios q1 floor1)"
echo "W1 speed-up, -j 1 / -j $jobs:  $(ratios w1 j1)"
echo "W2 -j 1 / its floor:        $(ratios w2 floor2)"
echo "W2 -j $threads / its floor:    $(ratios j2 floor2)   target <= 1.3x"
echo "W2 -q / its floor:          $(ratios q2 floor2)"
echo "W2 speed-up, -j 1 / -j $jobs:  $(ratios w2 j2)"
echo "W2 -q --report / W2 -q:     $(ratios r2 q2)   target <= 1.15x"
echo "W1 -j 1 / $base_rev:  $(ratios w1 b1)   target <= 1.03x against the last main"
echo "W2 -j 1 / $base_rev:  $(ratios w2 b2)   target <= 1.03x against the last main"
for tag in w1 j1; do
  read -r rss _ < <(stats $tag 2)
  echo "W1 peak memory ($tag): $rss KiB, $(awk -v r="$rss" 'BEGIN {printf "%.1f", r * 1024 / 2000000}') bytes per point   target <= 40"
done

echo
if [ -x "$work/cur/bench/micro_bench" ]; then
  "$work/cur/bench/micro_bench" --benchmark_filter='BM_Fit/1000000$|BM_DivisionChain' \
    --benchmark_repetitions="$runs" --benchmark_format=csv 2>/dev/null |
    awk -F, -v dir="$work" '/_(mean|median|stddev|cv)"/ {next}
      /BM_Fit\/1000000/ {print $4, 0 > dir "/t.fit"}
      /BM_DivisionChain/ {print $4, 0 > dir "/t.chain"}'
  echo "fit of 1,000,000 knots / division chain (CPU time): $(ratios fit chain)   target <= 1.3x"
  "$work/cur/bench/micro_bench" --benchmark_filter='FormatFixed6|FormatPrintf|ParseAtof|PlotSampling' \
    --benchmark_repetitions=3 --benchmark_report_aggregates_only=true 2>/dev/null |
    grep -E '_median'
else
  echo "microbenchmarks skipped: apt-get install libbenchmark-dev"
fi
