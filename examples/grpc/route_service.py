#!/usr/bin/env python3
"""L3QueryService.GetDrRoutesDetail over gRPC, in Python; the same commands
as route_service.cc, and exit status 1 when the call fails:

  route_service.py serve TABLE...   serve each binary RouteTableMsg under its
                                    lrouter_id, on a free loopback port that
                                    it prints first
  route_service.py get PORT UUID    write the table of logical router UUID
                                    to standard output, in binary

The message modules are the installed ones; only agg_svc_l3_msg_pb2_grpc is
generated (by protoc's grpc_python_plugin) into a folder of its own on the
path, where it joins the installed namespace package.
"""

from concurrent import futures
import sys
import uuid

import grpc
from ostrel.ruk import core_types_pb2
from ostrel.ruk.agg_service.l3 import agg_svc_l3_msg_pb2 as l3
from ostrel.ruk.agg_service.l3 import agg_svc_l3_msg_pb2_grpc as l3_grpc


def halves(text):
    """The service's (left, right) halves of a router UUID given as text."""
    number = uuid.UUID(text).int
    return number >> 64, number & (2**64 - 1)


class L3Query(l3_grpc.L3QueryServiceServicer):
    def __init__(self, tables):
        self.tables = tables

    def GetDrRoutesDetail(self, request, context):
        table = self.tables.get((request.left, request.right))
        if table is None:
            context.abort(grpc.StatusCode.NOT_FOUND,
                          "no route table for this router")
        return table


def serve(files):
    tables = {}
    for name in files:
        with open(name, "rb") as f:
            table = l3.RouteTableMsg.FromString(f.read())
        tables[halves(table.lrouter_id)] = table
    server = grpc.server(futures.ThreadPoolExecutor(max_workers=4))
    l3_grpc.add_L3QueryServiceServicer_to_server(L3Query(tables), server)
    port = server.add_insecure_port("127.0.0.1:0")
    server.start()
    print(port, flush=True)
    server.wait_for_termination()
    return 0


def get(port, router):
    left, right = halves(router)
    with grpc.insecure_channel(f"127.0.0.1:{port}") as channel:
        stub = l3_grpc.L3QueryServiceStub(channel)
        try:
            table = stub.GetDrRoutesDetail(
                core_types_pb2.UuidMsg(left=left, right=right), timeout=10)
        except grpc.RpcError as error:
            print(f"GetDrRoutesDetail: {error.details()} "
                  f"(code {error.code().value[0]})", file=sys.stderr)
            return 1
    sys.stdout.buffer.write(table.SerializeToString())
    return 0


def main(args):
    if len(args) > 1 and args[0] == "serve":
        return serve(args[1:])
    if len(args) == 3 and args[0] == "get":
        return get(args[1], args[2])
    print("usage: route_service.py serve TABLE... | get PORT UUID",
          file=sys.stderr)
    return 2


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
