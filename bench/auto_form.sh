#!/bin/bash
# The cost of --table=auto, and the program against an earlier build:
#   bench/auto_form.sh KNOTFIT BASE_KNOTFIT [PAIRS]
# KNOTFIT is the build measured, BASE_KNOTFIT one of an earlier revision
# (built in a directory of its own). W1 and W2 are made by gen_workload
# beside KNOTFIT. Each line is the median of PAIRS (default 11) alternated
# pairs of runs and the range of the ratios:
#   W1 --table=auto           / W1 --table=FORM, FORM the one auto picked
#   W1 -m smooth --table=auto / W1 -m smooth --table=FORM, likewise
#   W1, W2 (no new option)    / the same with BASE_KNOTFIT
#   BASE_KNOTFIT              / BASE_KNOTFIT again (the control)
# time as wall seconds, memory as peak resident KiB. Work files go to
# $BENCH_DIR, else /dev/shm.
set -euo pipefail
cur=$(realpath "$1")
base=$(realpath "$2")
pairs=${3:-11}
scratch=${BENCH_DIR:-/dev/shm}
work=$(mktemp -d "$scratch/knotfit-auto.XXXXXX")
trap 'rm -rf "$work"' EXIT
gen=$(dirname "$cur")/gen_workload
"$gen" w1 >"$work/w1.txt"
"$gen" w2 >"$work/w2.txt"

# one TAG BIN INPUT OPTIONS...: one run in a fresh KEL tree; appends
# "seconds KiB" to $work/t.TAG.
one() {
  local tag=$1 bin=$2 input=$3
  shift 3
  rm -rf "$work/kel"
  mkdir -p "$work/kel/CS/plot"
  TROV_KEL=$work/kel /usr/bin/time -f "%e %M" -a -o "$work/t.$tag" \
    "$bin" -q "$@" "$work/$input" >/dev/null
}

# The form auto picks for W1's one data set, by the bytes of its table.
picked() {
  one probe "$cur" w1.txt "$@" --table=auto
  table() { find "$work/kel/CS" -maxdepth 1 -type f; }
  cp "$(table)" "$work/auto.table"
  for form in classic offset double; do
    one probe "$cur" w1.txt "$@" --table=$form
    if cmp -s "$(table)" "$work/auto.table"; then
      echo $form
      return
    fi
  done
  echo "auto's table is none of the forms" >&2
  exit 1
}
form=$(picked)
smooth_form=$(picked -m smooth)

for _ in $(seq "$pairs"); do
  one auto "$cur" w1.txt --table=auto
  one direct "$cur" w1.txt --table="$form"
  one smooth_auto "$cur" w1.txt -m smooth --table=auto
  one smooth_direct "$cur" w1.txt -m smooth --table="$smooth_form"
  one w1 "$cur" w1.txt
  one w1_base "$base" w1.txt
  one w2 "$cur" w2.txt
  one w2_base "$base" w2.txt
  one control "$base" w1.txt
  one control_base "$base" w1.txt
done

# ratio TAG BASE COLUMN: the median ratio of the paired runs and its range.
ratio() {
  paste "$work/t.$1" "$work/t.$2" |
    awk -v c="$3" '{print $c / $(c + 2)}' | sort -g |
    awk '{v[NR] = $1} END {printf "%.3fx (%.3f-%.3f)", v[int((NR + 1) / 2)], v[1], v[NR]}'
}
echo "medians of $pairs pairs (range of the ratios); auto picks $form, with -m smooth $smooth_form"
echo "W1 --table=auto / --table=$form:                 time $(ratio auto direct 1), memory $(ratio auto direct 2)   target <= 1.1x"
echo "W1 -m smooth --table=auto / --table=$smooth_form:   time $(ratio smooth_auto smooth_direct 1), memory $(ratio smooth_auto smooth_direct 2)   target <= 1.25x"
echo "W1 / base:      time $(ratio w1 w1_base 1), memory $(ratio w1 w1_base 2)   target <= 1.03x"
echo "W2 / base:      time $(ratio w2 w2_base 1), memory $(ratio w2 w2_base 2)   target <= 1.03x"
echo "base / base:    time $(ratio control control_base 1), memory $(ratio control control_base 2)   (control)"
