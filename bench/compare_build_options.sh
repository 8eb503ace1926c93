#!/bin/bash
# Rebuilds the three schema libraries of a configured build directory with
# other compile and link flags, into side directories, and runs the one
# l3_bench binary against each copy in turn (its RUNPATH lets
# LD_LIBRARY_PATH win). Each round runs every variant once, in a new random
# order, so that a change in the machine's load does not always hit the same
# variant; the medians and minima over many short rounds are what to compare.
#
# usage: bench/compare_build_options.sh BUILD_DIR [ROUNDS] [FILTER]
#   variants: edit VARIANTS below, or name a subset in OSTREL_VARIANTS (the
#   first one named is the base); each is NAME|COMPILE FLAGS|LINK FLAGS and
#   replaces the build's own optimisation, NDEBUG, visibility,
#   interposition, PLT and LTO flags.
# Output: one CPU time per variant, benchmark and round, in
#   BUILD_DIR/build-options/results.tsv, and per benchmark and variant the
#   median and the minimum over the rounds, each against the first variant.
set -euo pipefail

build=$(cd "${1:?usage: $0 BUILD_DIR [ROUNDS] [FILTER]}" && pwd)
rounds=${2:-8}
filter=${3:-'ostrel/(serialize|parse_heap_free|parse_arena_free|parse_reuse)/.*/100000$'}
out="$build/build-options"

VARIANTS=(
  "O3|-O3 -DNDEBUG|-O3"
  "O2|-O2 -DNDEBUG|-O2"
  "Debug-O0|-g -DNDEBUG|"
  "Debug-O2|-g -O2 -DNDEBUG|-O2"
  "O3-no-NDEBUG|-O3|-O3"
  "O3-no-semantic-interposition|-O3 -DNDEBUG -fno-semantic-interposition|-O3"
  "O3-no-plt|-O3 -DNDEBUG -fno-plt|-O3"
  "O3-visibility-inlines-hidden|-O3 -DNDEBUG -fvisibility-inlines-hidden|-O3"
  "O3-all-three|-O3 -DNDEBUG -fno-semantic-interposition -fno-plt -fvisibility-inlines-hidden|-O3"
  "O3-all-three-lto|-O3 -DNDEBUG -fno-semantic-interposition -fno-plt -fvisibility-inlines-hidden -flto=auto|-O3 -flto=auto"
)

if [[ -n ${OSTREL_VARIANTS:-} ]]; then
  chosen=()
  for name in $OSTREL_VARIANTS; do
    for variant in "${VARIANTS[@]}"; do
      [[ ${variant%%|*} == "$name" ]] && chosen+=("$variant")
    done
  done
  VARIANTS=("${chosen[@]}")
fi

strip_flags() {
  sed -E 's/ -O[0-3s]( |$)/ \1/g; s/ -DNDEBUG( |$)/ \1/g;
          s/ -f(no-)?semantic-interposition( |$)/ \2/g; s/ -fno-plt( |$)/ \1/g;
          s/ -fvisibility-inlines-hidden( |$)/ \1/g; s/ -flto[^ ]*( |$)/ \1/g'
}

libs=(lib/libostrel_core_types.so.1.0.0
      lib/libostrel_agg_svc_common_types.so.1.0.0
      lib/libostrel_agg_svc_l3_msg.so.1.0.0)
cd "$build"
ninja bin/l3_bench "${libs[@]}" >/dev/null

# The compile and link commands ninja would run for the three libraries, in
# dependency order, with the object and library paths moved to a variant
# directory (written as @DIR@).
commands=$(for lib in "${libs[@]}"; do
  ninja -t commands "$lib" | grep -E '\.pb\.cc\.o|-shared' | tail -n 2
done | awk '!seen[$0]++' |
  sed -E 's# (-o |-MT |-MF )?proto/CMakeFiles/# \1@DIR@/obj/#g;
          s# (-o )?lib/libostrel_# \1@DIR@/lib/libostrel_#g')

mkdir -p "$out"
for variant in "${VARIANTS[@]}"; do
  IFS='|' read -r name cflags lflags <<<"$variant"
  dir="$out/$name"
  [[ -e "$dir/done" ]] && continue
  echo "building $name" >&2
  rm -rf "$dir"
  mkdir -p "$dir/lib"
  while IFS= read -r command; do
    command=${command//@DIR@/$dir}
    if [[ $command == *" -c "* ]]; then
      command=$(strip_flags <<<"$command")
      command=${command/ -fPIC / -fPIC $cflags }
      mkdir -p "$(dirname "$(sed -E 's/.* -o ([^ ]+).*/\1/' <<<"$command")")"
    else
      command=$(strip_flags <<<"$command")
      command=${command/ -fPIC / -fPIC $lflags }
    fi
    (eval "$command")
  done <<<"$commands"
  for lib in "$dir"/lib/*.so.1.0.0; do
    ln -sf "$(basename "$lib")" "${lib%.0.0}"
  done
  touch "$dir/done"
done

results="$out/results.tsv"
: >"$results"
for ((round = 1; round <= rounds; round++)); do
  for variant in $(printf '%s\n' "${VARIANTS[@]%%|*}" | shuf); do
    name=$variant
    echo "round $round: $name (load $(cut -d' ' -f1 /proc/loadavg))" >&2
    LD_LIBRARY_PATH="$out/$name/lib" ./bin/l3_bench \
      --benchmark_filter="$filter" --benchmark_min_time=0.3 \
      --benchmark_out="$out/run.csv" --benchmark_out_format=csv >/dev/null
    awk -F, -v name="$name" -v round="$round" \
      '$1 ~ /^"[a-z]/ { gsub(/"/, "", $1); print name "\t" round "\t" $1 "\t" $4 }' \
      "$out/run.csv" >>"$results"
  done
done

sort -t$'\t' -k3,3 -k1,1 -k4,4g "$results" | awk -F'\t' -v base="${VARIANTS[0]%%|*}" '
  { key = $3 SUBSEP $1; n[key]++; v[key, n[key]] = $4; benches[$3] = 1;
    names[$1] = 1 }
  function median(key) { return v[key, int((n[key] + 1) / 2)] }
  END {
    printf "%-48s %-30s %10s %7s %10s %7s\n", "benchmark", "variant",
           "median ms", "vs base", "min ms", "vs base"
    for (b in benches) {
      bkey = b SUBSEP base
      for (name in names) {
        key = b SUBSEP name
        if (n[key] == 0) continue
        printf "%-48s %-30s %10.3f %+6.1f%% %10.3f %+6.1f%%\n", b, name,
               median(key), (median(bkey) / median(key) - 1) * 100,
               v[key, 1], (v[bkey, 1] / v[key, 1] - 1) * 100
      }
    }
  }' | sort
