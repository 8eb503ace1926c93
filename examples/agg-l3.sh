# The examples of agg-l3 in README.md and agg-l3(1), which the test suite
# runs beside a copy of route_table.txtpb.
agg-l3 encode RouteTableMsg route_table.txtpb -o route_table.bin
agg-l3 decode --json RouteTableMsg route_table.bin
agg-l3 check RouteTableMsg route_table.bin
agg-l3 decode --each route RouteTableMsg route_table.bin |
  grep -v '"routeType":"b"' |
  agg-l3 encode --each route RouteTableMsg - -o kept.bin
