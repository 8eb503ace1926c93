#!/bin/bash
# agg-l3 against the tools a user would reach for instead, on one large
# route table: `protoc --decode`/`--encode` for text format, and Python's
# json_format (python3-protobuf, its C++ backend) for JSON. Every command
# reads a file and writes to /dev/null; /usr/bin/time gives its CPU time
# (user + system) and peak resident memory. Rounds run every command once
# each, in a new random order; the table shows the medians over the rounds
# and each one's ratio to the command its row names.
#
# usage: bench/compare_tools.sh BUILD_DIR [ROUTES] [ROUNDS]
#   ROUTES default 1000000, ROUNDS default 5.
# Output: a Markdown table on standard output; every measurement in
#   BUILD_DIR/compare-tools/results.tsv.
set -euo pipefail

build=$(cd "${1:?usage: $0 BUILD_DIR [ROUTES] [ROUNDS]}" && pwd)
routes=${2:-1000000}
rounds=${3:-5}
source_dir=$(cd "$(dirname "$0")/.." && pwd)
out="$build/compare-tools"
agg="$build/bin/agg-l3"
python=/usr/bin/python3  # Debian's, which has python3-protobuf
type=ostrel.ruk.agg_service.l3.RouteTableMsg
schema=ostrel/ruk/agg_service/l3/agg_svc_l3_msg.proto
export PYTHONPATH="$build/proto/python"
mkdir -p "$out"

# The table: JSON lines of its parts, turned into binary by agg-l3 itself.
if [[ ! -s $out/table-$routes.bin ]]; then
  "$python" - "$routes" >"$out/lines.jsonl" <<'EOF'
import sys
routes = int(sys.argv[1])
out = sys.stdout
out.write('{"lrouterId":"lr-edge-01","timestamp":"1764979200",'
          '"lrouterUuid":{"left":"4552142339036233728","right":"17"}}\n')
for i in range(routes):
    kind = ("b", "s", "c")[i % 3]
    out.write('{"route":[{"routeType":"%s","network":"10.%d.%d.0/24",'
              '"logicalRouterPortId":"lrp-%05d","nextHop":"192.0.%d.%d",'
              '"adminDistance":%d}]}\n'
              % (kind, i >> 16 & 255, i >> 8 & 255, i % 4096,
                 i >> 8 & 255, i & 255, (20, 1, 0)[i % 3]))
EOF
  "$agg" encode --each route RouteTableMsg "$out/lines.jsonl" \
    -o "$out/table-$routes.bin"
  rm "$out/lines.jsonl"
fi
bin=$out/table-$routes.bin
"$agg" decode RouteTableMsg "$bin" -o "$out/table.txt"
"$agg" decode --json RouteTableMsg "$bin" -o "$out/table.json"
"$agg" decode --each route RouteTableMsg "$bin" -o "$out/table.jsonl"

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

# name|command; a row's ratios are to protoc's for the same direction.
commands=(
  "decode: protoc --decode|protoc --decode=$type -I$source_dir/proto $schema <$bin"
  "decode: agg-l3 decode|$agg decode RouteTableMsg $bin"
  "decode: agg-l3 decode --json|$agg decode --json RouteTableMsg $bin"
  "decode: agg-l3 decode --each route|$agg decode --each route RouteTableMsg $bin"
  "decode: Python json_format.MessageToJson|$python $out/json_format.py decode $bin"
  "encode: protoc --encode|protoc --encode=$type -I$source_dir/proto $schema <$out/table.txt"
  "encode: agg-l3 encode|$agg encode RouteTableMsg $out/table.txt"
  "encode: agg-l3 encode --json|$agg encode --json RouteTableMsg $out/table.json"
  "encode: agg-l3 encode --each route|$agg encode --each route RouteTableMsg $out/table.jsonl"
  "encode: Python json_format.Parse|$python $out/json_format.py encode $out/table.json"
)

for entry in "${commands[@]}"; do  # each must work before it is timed
  bash -c "${entry#*|} >/dev/null" || { echo "failed: ${entry%%|*}" >&2; exit 1; }
done

results=$out/results.tsv
printf 'round\tname\tcpu_s\trss_kib\n' >"$results"
for ((round = 1; round <= rounds; round++)); do
  for i in $(shuf -i 0-$((${#commands[@]} - 1))); do
    name=${commands[$i]%%|*}
    command=${commands[$i]#*|}
    measured=$( { /usr/bin/time -f '%U %S %M' bash -c "$command >/dev/null" ; } 2>&1 | tail -1)
    read -r user system rss <<<"$measured"
    printf '%d\t%s\t%s\t%s\n' "$round" "$name" \
      "$(awk "BEGIN{print $user + $system}")" "$rss" >>"$results"
  done
  echo "round $round of $rounds done" >&2
done

"$python" - "$results" "$routes" "$(du -m "$bin" | cut -f1)" \
  "${commands[@]%%|*}" <<'EOF'
import csv, statistics, sys
results, routes, size_mib, names = sys.argv[1], sys.argv[2], sys.argv[3], sys.argv[4:]
rows = list(csv.DictReader(open(results), delimiter="\t"))
median = lambda name, key: statistics.median(
    float(r[key]) for r in rows if r["name"] == name)
print(f"{int(routes):,} routes, {size_mib} MiB of binary; medians of "
      f"{len({r['round'] for r in rows})} interleaved rounds.\n")
print("| command | CPU s | × protoc | peak RSS MiB | × protoc |")
print("|---|---:|---:|---:|---:|")
base = {}
for name in names:
    group, command = name.split(": ", 1)
    cpu, rss = median(name, "cpu_s"), median(name, "rss_kib") / 1024
    base.setdefault(group, (cpu, rss))
    print(f"| `{command}` | {cpu:.2f} | {cpu / base[group][0]:.2f} "
          f"| {rss:.0f} | {rss / base[group][1]:.2f} |")
EOF
