#!/usr/bin/env bash
# What agg-l3 is for, in one screen: write a report from text, read it back
# as JSON, and check a report from a newer schema. Usage: demo.sh AGG_L3
set -euo pipefail
agg=$(realpath "$1")
examples=$(realpath "$(dirname "$0")")
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"

step() { printf '\n\033[1m$ %s\033[0m\n' "$*"; }

step agg-l3 encode RouteTableMsg examples/route_table.txtpb -o route_table.bin
"$agg" encode RouteTableMsg "$examples/route_table.txtpb" -o "route_table.bin"
echo "$(stat -c %s "route_table.bin") bytes"

# Through a file, not a pipe into head: head exits after its lines, and
# agg-l3, still writing, would end on SIGPIPE and fail the demo.
step agg-l3 decode --json RouteTableMsg route_table.bin -o route_table.json
"$agg" decode --json RouteTableMsg "route_table.bin" -o "route_table.json"
head -20 "route_table.json"
echo "... ($(wc -l <"route_table.json") lines)"

# A newer producer: the node's status is 5, which EdgeNodeStatusEnum does not
# have, and the report carries a field 4 this schema does not know.
"$agg" encode EdgeClusterStatusMsg "$examples/edge_cluster_status.txtpb" -o "edge.bin"
{ cat "edge.bin"; printf '\012\002\020\005\040\001'; } >"edge-newer.bin"
step agg-l3 check EdgeClusterStatusMsg edge-newer.bin
status=0
"$agg" check EdgeClusterStatusMsg "edge-newer.bin" || status=$?
echo "exit status $status (1: the report carries what this schema does not know)"
((status == 1))
