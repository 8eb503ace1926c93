"""Checks the installed Python modules against the wire vectors of the C++
tests (test/wire_vectors.txt): each vector's text form must encode to its
bytes, and its input must decode to the same message and encode to the same
bytes again.

Usage: check_wire_vectors.py VECTORS MODULE_DIR
"""

import os
import sys

from google.protobuf import text_format
from google.protobuf.message import DecodeError
from ostrel.ruk.agg_service.l3 import agg_svc_l3_msg_pb2 as l3


def check(type_name, text, expected, wire):
    message_class = getattr(l3, type_name)
    from_text = text_format.Parse(text, message_class())
    encoded = from_text.SerializeToString()
    if encoded != expected:
        return f"encodes to {encoded.hex(' ')}"
    decoded = message_class.FromString(wire)
    if decoded != from_text:
        return f"decodes to {text_format.MessageToString(decoded, as_one_line=True)}"
    if decoded.SerializeToString() != expected:
        return f"re-encodes to {decoded.SerializeToString().hex(' ')}"
    return None


def vectors(path):
    """Each vector of the file as a dict; the file's top describes the format."""
    vector = None
    with open(path, encoding="ascii") as lines:
        for line in lines:
            line = line.rstrip("\n")
            word = line.split(" ", 1)[0]
            if line.startswith("  "):
                vector["text"].append(line[2:])
            elif word in ("every", "record", "malformed"):
                if vector and vector["kind"] != "malformed":
                    yield vector
                vector = {"kind": word, "type": line.split()[-1], "text": [],
                          "hex": "", "input": None}
            elif word in ("hex", "input"):
                vector[word] = (vector[word] or "") + line[len(word):]
    if vector and vector["kind"] != "malformed":
        yield vector


def main(vectors_path, module_dir):
    if not l3.__file__.startswith(os.path.join(module_dir, "")):
        sys.exit(f"modules loaded from {l3.__file__}, not from {module_dir}")
    passed, failed, types = 0, 0, set()
    for vector in vectors(vectors_path):
        type_name, text = vector["type"], "\n".join(vector["text"])
        expected = bytes.fromhex(vector["hex"])
        wire = bytes.fromhex(vector["input"] or vector["hex"])
        types.add(type_name)
        try:
            problem = check(type_name, text, expected, wire)
        except (text_format.ParseError, DecodeError) as error:
            problem = f"fails: {error}"
        if problem is None:
            passed += 1
        else:
            failed += 1
            print(f"{type_name} {{{text}}}: {problem}, "
                  f"C++ gives {expected.hex(' ')}")
    uncovered = set(l3.DESCRIPTOR.message_types_by_name) - types
    if uncovered:
        failed += 1
        print("no vector for " + ", ".join(sorted(uncovered)))
    print(f"{passed} passed, {failed} failed")
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main(*sys.argv[1:]))
