#!/usr/bin/env python3
"""schema --json-schema held to the JSON that decode --json prints.

Every example report, and reports of the values the JSON mapping writes
as strings, validates against its type's JSON Schema made with the same
--proto-names and --enums-as-ints; JSON that decode --json cannot print
with those options is refused.

usage: json_schema_test.py AGG_L3 EXAMPLES_DIR
"""
import glob
import json
import os
import subprocess
import sys

import jsonschema

TOOL, EXAMPLES = sys.argv[1], sys.argv[2]
FLAG_SETS = [[], ["--proto-names"], ["--enums-as-ints"],
             ["--proto-names", "--enums-as-ints"]]
failures = []


def tool(*args, stdin=b""):
    return subprocess.run([TOOL, *args], input=stdin, capture_output=True,
                          check=True).stdout


def validator(type_name, flags):
    schema = json.loads(tool("schema", "--json-schema", *flags, type_name))
    jsonschema.Draft202012Validator.check_schema(schema)
    return jsonschema.Draft202012Validator(schema)


reports = []  # name, type, binary
for path in sorted(glob.glob(os.path.join(EXAMPLES, "*.txtpb"))):
    text = open(path, "rb").read()
    type_name = text.split(b"# proto-message: ")[1].split(b"\n")[0].decode()
    reports.append((os.path.basename(path), type_name,
                    tool("encode", type_name, path)))
# r_await and w_await (floats): -0 and -Infinity, NaN and Infinity; the
# lowest int64 timestamp.
for name, type_name, hex_bytes in [
        ("-0, -Infinity", "EdgeNodeStatusMsg", "3500000080 3d000080ff"),
        ("NaN, Infinity", "EdgeNodeStatusMsg", "350000c07f 3d0000807f"),
        ("lowest int64", "RouteTableMsg", "10 80808080808080808001")]:
    reports.append((name, type_name, bytes.fromhex(hex_bytes)))

for name, type_name, binary in reports:
    for flags in FLAG_SETS:
        printed = json.loads(tool("decode", "--json", *flags, type_name,
                                  stdin=binary))
        for error in validator(type_name, flags).iter_errors(printed):
            failures.append(f"{name} {' '.join(flags)}: {error.message}")

# What decode --json never prints with these options.
WRONG = [
    ("RouteTableMsg", [], {"timestamp": 1}),
    ("RouteTableMsg", [], {"timestamp": "1.5"}),
    ("RouteTableMsg", [], {"lrouter_id": "a"}),
    ("RouteTableMsg", ["--proto-names"], {"lrouterId": "a"}),
    ("RouteTableMsg", [], {"route": [{"adminDistance": 2147483648}]}),
    ("RouteTableMsg", [], {"route": [{"nextHop": 5}]}),
    ("RouteTableMsg", [], {"route": {"nextHop": "a"}}),
    ("EdgeNodeStatusMsg", [], {"status": 1}),
    ("EdgeNodeStatusMsg", [], {"status": "SIDEWAYS"}),
    ("EdgeNodeStatusMsg", ["--enums-as-ints"], {"status": "UP"}),
    ("EdgeNodeStatusMsg", ["--enums-as-ints"], {"status": 9}),
    ("EdgeNodeStatusMsg", [], {"rAwait": "nan"}),
    ("EdgeNodeStatusMsg", [], {"transportNodeId": {"left": 1}}),
]
for type_name, flags, document in WRONG:
    if validator(type_name, flags).is_valid(document):
        failures.append(f"{type_name} {' '.join(flags)}: accepted {document}")

for failure in failures:
    print(failure)
print(f"{len(failures)} failed" if failures else
      f"{len(reports) * len(FLAG_SETS)} reports valid, {len(WRONG)} refused")
sys.exit(1 if failures else 0)
