from ostrel.ruk.agg_service.l3 import agg_svc_l3_msg_pb2 as l3

table = l3.RouteTableMsg(lrouter_id="lr-edge-01", timestamp=1700000000)
table.route.add(network="10.0.0.0/24", next_hop="192.0.2.1", admin_distance=20)
table.lrouter_uuid.left = 1
assert l3.RouteTableMsg.FromString(table.SerializeToString()) == table
print(table.SerializeToString().hex())
