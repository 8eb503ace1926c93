#!/usr/bin/env python3
"""Every command and mode of agg-l3 against every class of hostile input.

Each cell runs the tool with -o onto a file that already exists, and holds
it to the tool's promises whatever the mode: the expected exit status;
nothing left behind beside the output; an -o file replaced only on success;
standard error only in the tool's own words; memory bounded by RLIMIT_AS.
A new mode gets all of this by adding a row.

usage: hostile_input_test.py AGG_L3 EXAMPLES_DIR
"""
import lzma
import base64
import os
import resource
import shutil
import signal
import stat
import struct
import subprocess
import sys
import tempfile
import time
import zlib

TOOL, EXAMPLES = sys.argv[1], sys.argv[2]
TYPE = "EdgeClusterStatusMsg"
# Sanitizers reserve more address space than any limit worth testing.
SANITIZED = os.environ.get("OSTREL_SANITIZED") == "1"
MEMORY = 1 << 30

failures = []


def run(args, stdin=b"", limit=True, timeout=120):
    def bound():
        if limit and not SANITIZED:
            resource.setrlimit(resource.RLIMIT_AS, (MEMORY, MEMORY))
    if isinstance(stdin, bytes):
        return subprocess.run([TOOL] + args, input=stdin, capture_output=True,
                              preexec_fn=bound, timeout=timeout)
    return subprocess.run([TOOL] + args, stdin=stdin, capture_output=True,
                          preexec_fn=bound, timeout=timeout)


def tool(args, stdin=b""):
    result = run(args, stdin, limit=False)
    assert result.returncode == 0, (args, result.stderr)
    return result.stdout


def delimited(records):
    out = b""
    for record in records:
        n, prefix = len(record), b""
        while True:
            prefix += bytes([(n & 0x7F) | (0x80 if n > 0x7F else 0)])
            n >>= 7
            if not n:
                break
        out += prefix + record
    return out


text = open(os.path.join(EXAMPLES, "edge_cluster_status.txtpb"), "rb").read()
binary = tool(["encode", TYPE], text)
json = tool(["decode", "--json", "--compact", TYPE], binary)
lines = tool(["decode", "--each", "peer", TYPE], binary)
log = delimited([binary, binary])
# self { r_await: a NaN no text format or JSON can write back }
nan = bytes.fromhex("0a05350100c07f")
inexact_json = b'{"peer":[{"downSince":9007199254740993.0}]}\n'

# What each family of modes reads: a valid input, the same cut short, one
# with a value the output format cannot hold (None: no such thing).
FAMILIES = {
    "binary": (binary, binary[:-3], nan),
    "log": (log, log[:-3], delimited([binary, nan])),
    "text": (text, text[: len(text) // 2], None),
    "json": (json, json[: len(json) // 2], inexact_json),
    "lines": (lines, lines[:-10], inexact_json),
    "records": (b"--- record 1\n" + text + b"--- record 2\n" + text,
                b"--- record 1\n" + text[: len(text) // 2], None),
    "json_lines": (json + json, json + json[:-9], inexact_json),
    "hex": (binary.hex().encode(), binary.hex()[:-3].encode(),
            nan.hex().encode()),
    "base64": (base64.encodebytes(binary), base64.b64encode(binary)[:-5],
               None),
}
LOSSY_STATUS = {"binary": 4, "log": 4, "json": 2, "lines": 2, "json_lines": 2,
                "hex": 4}

# mode, what it reads, arguments (IN: the input; OTHER: a valid second
# report for diff)
MODES = [
    ("decode", "binary", ["decode", TYPE, "IN"]),
    ("decode --json", "binary", ["decode", "--json", TYPE, "IN"]),
    ("decode --each", "binary", ["decode", "--each", "peer", TYPE, "IN"]),
    ("decode --raw", "binary", ["decode", "--raw", "IN"]),
    ("decode --hex", "hex", ["decode", "--hex", TYPE, "IN"]),
    ("decode --delimited", "log", ["decode", "--delimited", TYPE, "IN"]),
    ("decode --delimited --json", "log",
     ["decode", "--delimited", "--json", TYPE, "IN"]),
    ("decode --delimited --each", "log",
     ["decode", "--delimited", "--each", "peer", TYPE, "IN"]),
    ("encode", "text", ["encode", TYPE, "IN"]),
    ("encode --json", "json", ["encode", "--json", TYPE, "IN"]),
    ("encode --each", "lines", ["encode", "--each", "peer", TYPE, "IN"]),
    ("encode --delimited", "records", ["encode", "--delimited", TYPE, "IN"]),
    ("encode --delimited --json", "json_lines",
     ["encode", "--delimited", "--json", TYPE, "IN"]),
    ("check", "binary", ["check", TYPE, "IN"]),
    ("check --json", "binary", ["check", "--json", TYPE, "IN"]),
    ("check FILES", "binary", ["check", TYPE, "OTHER", "IN"]),
    ("decode FILES", "binary", ["decode", TYPE, "OTHER", "IN"]),
    ("check --delimited", "log", ["check", "--delimited", TYPE, "IN"]),
    ("check --base64", "base64", ["check", "--base64", TYPE, "IN"]),
    ("diff NEW", "binary", ["diff", TYPE, "OTHER", "IN"]),
    ("diff OLD", "binary", ["diff", TYPE, "IN", "OTHER"]),
    ("diff --delimited NEW", "log", ["diff", "--delimited", TYPE, "OTHER", "IN"]),
    ("diff --delimited OLD", "log", ["diff", "--delimited", TYPE, "IN", "OTHER"]),
]


def cell(mode, family, args, name, stdin, expected, output_node=None):
    """Runs one cell in a fresh folder and checks every promise."""
    folder = tempfile.mkdtemp(prefix="hostile-")
    try:
        other = os.path.join(folder, "other")
        with open(other, "wb") as f:
            f.write(FAMILIES[family][0] if family in ("binary", "log") else b"")
        out = os.path.join(folder, "out")
        if output_node:
            output_node(out)
        else:
            with open(out, "wb") as f:
                f.write(b"before")
        argv = [other if a == "OTHER" else "-" if a == "IN" else a
                for a in args] + ["-o", out] * (not args[0] == "check"
                                                  and not args[0] == "diff")
        where = f"{mode} / {name}"
        try:
            result = run(argv, stdin if isinstance(stdin, bytes)
                         else stdin(folder), timeout=120 if expected else 1)
        except subprocess.TimeoutExpired:
            # Endless valid records: a stream goes on, in bounded memory.
            if expected is not None:
                failures.append(f"{where}: still running")
            return None
        if expected is None:
            failures.append(f"{where}: ended ({result.returncode}) on endless "
                            f"records: {result.stderr[-200:]!r}")
        elif result.returncode != expected:
            failures.append(f"{where}: exit {result.returncode}, expected "
                            f"{expected}: {result.stderr[-300:]!r}")
        left = [f for f in os.listdir(folder) if f.startswith(".")]
        if left:
            failures.append(f"{where}: left {left}")
        bad = [l for l in result.stderr.decode(errors="replace").splitlines()
               if l and not l.startswith(("agg-l3: ", "  "))]
        if bad:
            failures.append(f"{where}: stderr not in the tool's words: {bad[:2]}")
        # The hostile input is standard input: a failure must blame it,
        # never the valid report beside it.
        if (expected == 2 and args[0] == "diff"
                and b"<stdin>" not in result.stderr):
            failures.append(f"{where}: blames {result.stderr[-200:]!r}")
        if (expected and expected > 1 and not output_node and "-o" in argv
                and open(out, "rb").read() != b"before"):
            failures.append(f"{where}: -o replaced although it failed")
        return result
    finally:
        shutil.rmtree(folder)


def directory_on_stdin(folder):
    return os.open(folder, os.O_RDONLY)


def zeros(_):
    return open("/dev/zero", "rb")


def full_device(path):
    os.mknod(path, 0o666 | stat.S_IFCHR, os.makedev(1, 7))


feeders = []


def endless(line):
    """Standard input that repeats `line` without end."""
    def feed(_):
        feeders.append(subprocess.Popen(["yes", line.rstrip(b"\n")],
                                        stdout=subprocess.PIPE))
        return feeders[-1].stdout
    return feed


# Endless valid input, for the families a stream of output is made of.
ENDLESS = {"log": zeros, "lines": endless(lines.splitlines()[-1]),
           "json_lines": endless(json)}

for mode, family, args in MODES:
    valid, cut, lossy = FAMILIES[family]
    differ = 1 if args[0] == "diff" and family == "binary" else 0
    cell(mode, family, args, "valid", valid, 0)
    # Zeros are endless empty records in a log, and malformed elsewhere.
    cell(mode, family, args, "endless", zeros, None if family == "log" else 2)
    cell(mode, family, args, "unreadable", directory_on_stdin, 3)
    cell(mode, family, args, "cut", cut, 2)
    # --raw writes every value exactly, whatever it is.
    if (lossy is not None and args[0] not in ("check", "diff")
            and "--raw" not in args):
        cell(mode, family, args, "lossy", lossy, LOSSY_STATUS[family])
    if args[0] not in ("check", "diff"):
        cell(mode, family, args, "odd output", valid, 3, full_device)
    # The first write that fails ends the program, compressed too.
    if args[0] not in ("check", "diff") and family in ENDLESS:
        for packed in ([], ["--compress", "gzip"]):
            cell(" ".join([mode] + packed), family, args + packed,
                 "endless to a full device", ENDLESS[family], 3, full_device)
for feeder in feeders:
    feeder.kill()
    feeder.wait()


# A report larger than the output's buffer, to a full device: the write
# fails while the report is serialized, and is told as a failed write.
merged = binary * 700
for mode, args, printed in (
        ("encode", ["encode", TYPE, "IN"], ["decode", TYPE]),
        ("encode --json", ["encode", "--json", TYPE, "IN"],
         ["decode", "--json", TYPE])):
    cell(mode, "text", args, "over 1 MiB to a full device",
         tool(printed, merged), 3, full_device)


def greedy_xz(data):
    """xz whose block header asks for a 1 GiB dictionary to decompress."""
    packed = bytearray(lzma.compress(data, format=lzma.FORMAT_XZ))
    size = (packed[12] + 1) * 4  # the block header, after the stream's
    header = packed[12:12 + size]
    at = header.index(b"\x21\x01")  # LZMA2, one byte of properties
    header[at + 2] = 36
    header[-4:] = struct.pack("<I", zlib.crc32(bytes(header[:-4])))
    packed[12:12 + size] = header
    return bytes(packed)


# Compressed by the formats' own programs: read as the plain input is; cut
# short, corrupted or asking for more memory than is allowed, refused in
# every mode.
for mode, family, args in MODES:
    valid = FAMILIES[family][0]
    for program in ("zstd", "xz"):
        packed = subprocess.run([program, "-c"], input=valid,
                                capture_output=True, check=True).stdout
        corrupt = bytearray(packed)
        corrupt[len(corrupt) // 2] ^= 0xFF
        cell(mode, family, args, program, packed, 0)
        cell(mode, family, args, f"{program} cut", packed[:-5], 2)
        cell(mode, family, args, f"{program} corrupt", bytes(corrupt), 2)
    cell(mode, family, args, "xz asking for 1 GiB", greedy_xz(valid), 2)

# Larger than one read of the input (1 MiB), so that offsets past the first
# read count: a report of many merged copies, a log of many records.
LARGE = {"binary": binary * 700, "log": delimited([binary] * 700)}
for mode, family, args in MODES:
    if family in LARGE:
        cell(mode, family, args, "over 1 MiB", LARGE[family],
             1 if args[0] == "diff" else 0)

# Over the limits: a line, and a record's declared length.
long_line = b'{"peer":[{"failureReason":"' + b"x" * (65 << 20) + b'"}]}\n'
for mode, family, args in MODES:
    if family in ("lines", "json_lines", "records"):
        cell(mode, family, args, "line over 64 MiB", long_line, 2)
    if family == "log":
        cell(mode, family, args, "declared length past the end",
             bytes.fromhex("ffffffff07") + b"\0" * 100, 2)

# A new -o file gets the mode the umask allows, as any other new file.
folder = tempfile.mkdtemp(prefix="hostile-")
made = os.path.join(folder, "new")
run(["encode", TYPE, "-", "-o", made], text)
umask = os.umask(0)
os.umask(umask)
if stat.S_IMODE(os.stat(made).st_mode) != 0o666 & ~umask:
    failures.append(f"-o new file: mode {oct(os.stat(made).st_mode)}")
shutil.rmtree(folder)

# Named twice: one pipe cannot be both reports.
r = run(["diff", TYPE, "-", "/dev/stdin"], binary)
if r.returncode != 3:
    failures.append(f"diff - /dev/stdin: exit {r.returncode}")

# Interrupted: whatever ends the program, the temporary file goes with it.
for sig in (signal.SIGTERM, signal.SIGQUIT, signal.SIGUSR1, signal.SIGALRM,
            signal.SIGRTMIN):
    folder = tempfile.mkdtemp(prefix="hostile-")
    reader, writer = os.pipe()
    proc = subprocess.Popen([TOOL, "decode", "--each", "peer", TYPE, "-o",
                             os.path.join(folder, "out")], stdin=reader,
                            stderr=subprocess.DEVNULL,
                            preexec_fn=lambda: [signal.signal(s, signal.SIG_DFL)
                                                for s in (signal.SIGINT,
                                                          signal.SIGQUIT)])
    os.close(reader)
    os.write(writer, binary[: len(binary) // 2])
    deadline = time.time() + 10
    while not [f for f in os.listdir(folder) if f.startswith(".")]:
        if time.time() > deadline:
            break
        time.sleep(0.02)
    proc.send_signal(sig)
    proc.wait(timeout=10)
    os.close(writer)
    if os.listdir(folder):
        failures.append(f"{signal.Signals(sig).name}: left {os.listdir(folder)}")
    shutil.rmtree(folder)

for failure in failures:
    print(failure)
print(f"{len(failures)} failed" if failures else "every cell kept its promises")
sys.exit(1 if failures else 0)
