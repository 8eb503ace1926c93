#!/bin/bash
# agg-l3 as whole programs against what a user would run instead, on a
# generated route table shaped like examples/route_table.txtpb: `protoc
# --decode`/`--encode` for text format, Python's json_format (Debian's
# python3-protobuf) for JSON, agg-l3's own `check` of both reports for
# `diff`, and for `decode --json` and `check` the least a program must do
# to answer the same (bench/floor.cc: an arena parse, a walk of the wire,
# built with the benchmarks). Each comparison is a pair of commands run A B A B ..., so both
# see the same load; /usr/bin/time gives each run's CPU time (user +
# system) and peak resident memory. The table shows medians with the
# minimum and maximum, and the ratio of the medians (A / B) against the
# goal the row names.
#
# usage: bench/compare_tools.sh BUILD_DIR [ROUTES] [ROUNDS]
#   ROUTES default 1000000, ROUNDS (runs of each command per pair)
#   default 5. Set PYTHON_ROWS=0 to leave out the slow Python pairs.
# Output: a Markdown table on standard output; every run in
#   BUILD_DIR/compare-tools/results.tsv.
set -euo pipefail

build=$(cd "${1:?usage: $0 BUILD_DIR [ROUTES] [ROUNDS]}" && pwd)
routes=${2:-1000000}
rounds=${3:-5}
source_dir=$(cd "$(dirname "$0")/.." && pwd)
out="$build/compare-tools"
agg="$build/bin/agg-l3"
floor="$build/bin/floor" # bench/floor.cc: the least a program must do
python=/usr/bin/python3 # Debian's, which has python3-protobuf
type=ostrel.ruk.agg_service.l3.RouteTableMsg
schema=ostrel/ruk/agg_service/l3/agg_svc_l3_msg.proto
protoc_args="-I$source_dir/proto $schema"
export PYTHONPATH="$build/proto/python"
mkdir -p "$out"
# Two runs at once would share the tables and the results, and load each other.
exec 9>"$out/lock"
flock -n 9 || { echo "another run is using $out" >&2; exit 1; }

# Output goes to a null device of our own: writing a file would time the
# page cache, and the system's /dev/null is not ours to point things at.
sink=$out/null
if [[ ! -c $sink ]]; then
  rm -f "$sink"
  mknod "$sink" c 1 3 || : >"$sink" # no device nodes here: a plain file
fi

# A table in text format: the example's route types, next hops and
# distances, a port name and a port UUID per route. `changed` differs in
# every hundredth route: a new distance, a new network, or no next hop.
make_table() { # ROUTES SEED CHANGED > text
  "$python" - "$@" <<'EOF'
import random, sys
routes, seed, changed = int(sys.argv[1]), int(sys.argv[2]), sys.argv[3] == "1"
rng = random.Random(seed)
kinds = ["b"] * 14 + ["t1c"] * 8 + ["t0s"] * 3 + ["t0c", "t0c", "t1s", "ib"]
hops = ["100.64.0.1", "192.168.240.1", "192.168.241.1", ""]
out = sys.stdout
out.write('lrouter_id: "fe4f5263-11d5-4724-95ba-a978983b6369"\n'
          'timestamp: 1765010700123\n')
for i in range(routes):
    r = random.Random(i)  # the same route in both tables
    network = "%d.%d.%d.0/24" % (1 + (i >> 16), i >> 8 & 255, i & 255) \
        if i % 7 else "100.%d.%d.%d/31" % (64 + (i >> 16), i >> 8 & 255, i & 254)
    hop = r.choice(hops)
    distance = r.choice((20, 3, 1, 0, 200))
    if changed and i % 100 == 50:
        kind = i // 100 % 3
        if kind == 0: distance += 1
        elif kind == 1: network = "172.%d.%d.%d/32" % (16 + (i >> 16), i >> 8 & 255, i & 255)
        else: hop = ""
    out.write('route {\n  route_type: "%s"\n  network: "%s"\n'
              '  logical_router_port_id: "%08x-%04x-4%03x-8%03x-%012x"\n'
              % (r.choice(kinds), network, r.getrandbits(32),
                 r.getrandbits(16), r.getrandbits(12), r.getrandbits(12),
                 r.getrandbits(48)))
    if hop: out.write('  next_hop: "%s"\n' % hop)
    out.write('  admin_distance: %d\n  lrouter_port_uuid {\n'
              '    left: %d\n    right: %d\n  }\n}\n'
              % (distance, r.getrandbits(64), r.getrandbits(64)))
EOF
}

# Binary made by protoc, so that the tool under test makes none of its input.
table() { # NAME ROUTES CHANGED
  if [[ ! -s $out/$1.bin ]]; then
    make_table "$2" 1 "$3" >"$out/$1.txt"
    protoc --encode=$type $protoc_args <"$out/$1.txt" >"$out/$1.bin"
  fi
}
table "old-$routes" "$routes" 0
table "new-$routes" "$routes" 1
table "small-$routes" $((routes / 10)) 0
bin=$out/old-$routes.bin
new=$out/new-$routes.bin
"$agg" decode RouteTableMsg "$bin" -o "$out/old.txt"
"$agg" decode --json RouteTableMsg "$bin" -o "$out/old.json"
"$agg" decode --each route RouteTableMsg "$bin" -o "$out/old.jsonl"
"$agg" decode --each route RouteTableMsg "$out/small-$routes.bin" \
  -o "$out/small.jsonl"

cat >"$out/json_format.py" <<'EOF'
import sys
from google.protobuf import json_format
from ostrel.ruk.agg_service.l3 import agg_svc_l3_msg_pb2 as l3
table = l3.RouteTableMsg()
if sys.argv[1] == "decode":
    with open(sys.argv[2], "rb") as f:
        table.ParseFromString(f.read())
    sys.stdout.write(json_format.MessageToJson(table))
else:
    with open(sys.argv[2]) as f:
        json_format.Parse(f.read(), table)
    sys.stdout.buffer.write(table.SerializeToString())
EOF

protoc_decode="protoc --decode=$type $protoc_args <$bin"
protoc_encode="protoc --encode=$type $protoc_args <$out/old.txt"
# goal|A's name|A|B's name|B|CPU goal|memory goal (A / B at most; - none)
pairs=(
  "1|encode --json|$agg encode --json RouteTableMsg $out/old.json|protoc --encode|$protoc_encode|0.5|1.0"
  "1|encode --each route|$agg encode --each route RouteTableMsg $out/old.jsonl|protoc --encode|$protoc_encode|0.5|-"
  "1|encode --each route|$agg encode --each route RouteTableMsg $out/old.jsonl|the same, a tenth of the routes|$agg encode --each route RouteTableMsg $out/small.jsonl|-|1.1"
  "2|encode|$agg encode RouteTableMsg $out/old.txt|protoc --encode|$protoc_encode|-|1.0"
  "3|decode|$agg decode RouteTableMsg $bin|protoc --decode|$protoc_decode|0.5|-"
  "3|decode --json|$agg decode --json RouteTableMsg $bin|parse floor|$floor parse $bin|3|-"
  "3|check|$agg check RouteTableMsg $bin|wire floor|$floor walk $bin|3|-"
  "lines|decode --each route|$agg decode --each route RouteTableMsg $bin|decode --json|$agg decode --json RouteTableMsg $bin|1.25|-"
  "-|diff|$agg diff RouteTableMsg $bin $new|check of both|$agg check RouteTableMsg $bin && $agg check RouteTableMsg $new|-|-"
)
if [[ ${PYTHON_ROWS:-1} != 0 ]]; then
  pairs+=(
    "-|decode --json|$agg decode --json RouteTableMsg $bin|Python json_format.MessageToJson|$python $out/json_format.py decode $bin|-|-"
    "-|encode --json|$agg encode --json RouteTableMsg $out/old.json|Python json_format.Parse|$python $out/json_format.py encode $out/old.json|-|-"
  )
fi

for pair in "${pairs[@]}"; do # each must work before it is timed
  IFS='|' read -r _ _ a _ b _ <<<"$pair"
  for command in "$a" "$b"; do
    status=0
    bash -c "{ $command; } >$sink" || status=$?
    # 1 is diff's answer that the reports differ.
    [[ $status == 0 || ($status == 1 && $command == *" diff "*) ]] || {
      echo "failed: $command" >&2
      exit 1
    }
  done
done

results=$out/results.tsv
printf 'pair\tside\tround\tcpu_s\trss_kib\n' >"$results"
run() { # PAIR SIDE ROUND COMMAND
  local user system rss
  read -r user system rss < <({ /usr/bin/time -f '%U %S %M' \
    bash -c "{ $4; } >$sink"; } 2>&1 | tail -1)
  printf '%s\t%s\t%s\t%s\t%s\n' "$1" "$2" "$3" \
    "$(awk "BEGIN{print $user + $system}")" "$rss" >>"$results"
}
for i in "${!pairs[@]}"; do
  IFS='|' read -r _ _ a _ b _ <<<"${pairs[$i]}"
  for ((round = 1; round <= rounds; round++)); do
    run "$i" A "$round" "$a"
    run "$i" B "$round" "$b"
  done
  echo "pair $((i + 1)) of ${#pairs[@]} done" >&2
done

"$python" - "$results" "$routes" "$(($(stat -Lc %s "$bin") >> 20))" \
  "$(nproc)" "$(cut -d' ' -f1-3 /proc/loadavg)" "${pairs[@]}" <<'EOF'
import csv, statistics, sys
results, routes, size, cores, load = sys.argv[1:6]
pairs = [p.split("|") for p in sys.argv[6:]]
rows = list(csv.DictReader(open(results), delimiter="\t"))
def runs(pair, side, key):
    return [float(r[key]) / (1 if key == "cpu_s" else 1024) for r in rows
            if r["pair"] == str(pair) and r["side"] == side]
def spread(values, digits):
    return (f"{statistics.median(values):.{digits}f} "
            f"({min(values):.{digits}f}–{max(values):.{digits}f})")
def ratio(pair, key, goal):
    a = statistics.median(runs(pair, "A", key))
    b = statistics.median(runs(pair, "B", key))
    if b == 0: return "n/a"  # too small to time
    if goal == "-": return f"{a / b:.2f}"
    verdict = "met" if a / b <= float(goal) else "**missed**"
    return f"**{a / b:.2f}** (≤ {goal}: {verdict})"
print(f"{int(routes):,} routes, {size} MiB of binary; each pair run A B A B, "
      f"{len(runs(0, 'A', 'cpu_s'))} times each; medians (min–max); "
      f"{cores} cores, load average at the end {load}.\n")
print("| goal | A | B | A CPU s | B CPU s | CPU A / B "
      "| A peak MiB | B peak MiB | memory A / B |")
print("|---|---|---|---:|---:|---:|---:|---:|---:|")
for i, (goal, a, _, b, _, cpu_goal, rss_goal) in enumerate(pairs):
    print(f"| {goal} | `{a}` | `{b}` "
          f"| {spread(runs(i, 'A', 'cpu_s'), 2)} "
          f"| {spread(runs(i, 'B', 'cpu_s'), 2)} | {ratio(i, 'cpu_s', cpu_goal)} "
          f"| {spread(runs(i, 'A', 'rss_kib'), 0)} "
          f"| {spread(runs(i, 'B', 'rss_kib'), 0)} "
          f"| {ratio(i, 'rss_kib', rss_goal)} |")
EOF
