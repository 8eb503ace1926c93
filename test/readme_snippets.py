"""Holds every code block of README.md to what it claims, so that each one
works as written from a fresh clone:

- after a line `<!-- from PATH -->`, the block is a run of consecutive lines
  of PATH (relative to the repository), which other tests build and run;
- after a line `<!-- not run: REASON -->`, the block is left alone: it needs
  root, or it is the command that runs this suite;
- any other `sh` block is run, in the README's order, by bash with -euo
  pipefail, from a scratch folder standing for the clone's root (the
  repository's examples/ in it) with agg-l3 on PATH; each must succeed, and
  may use the files that the blocks before it made;
- a block of `$ COMMAND` lines, each followed by what it prints, is run
  there too, and must print those lines.

Any other block fails the check: nothing in the README goes unchecked.

Usage: readme_snippets.py REPOSITORY AGG_L3_DIRECTORY
"""

import os
import re
import subprocess
import sys
import tempfile
from pathlib import Path

MARKER = re.compile(r"<!-- (from|not run:) (.+?) -->")


def blocks(readme):
    """Yields (line number, language, marker, argument, block lines)."""
    lines = readme.read_text(encoding="utf-8").splitlines()
    number = 0
    while number < len(lines):
        if not lines[number].startswith("```"):
            number += 1
            continue
        end = number + 1
        while end < len(lines) and lines[end] != "```":
            end += 1
        marker = MARKER.fullmatch(lines[number - 1].strip()) if number else None
        yield (number + 1, lines[number][3:], *(marker.groups() if marker else
                                                (None, None)),
               lines[number + 1:end])
        number = end + 1


def is_run_of(block, lines):
    return any(lines[i:i + len(block)] == block
               for i in range(len(lines) - len(block) + 1))


def transcript(block):
    """Yields (command, expected output lines) of a `$ COMMAND` block."""
    command, output = None, []
    for line in block + ["$ "]:
        if line.startswith("$ "):
            if command:
                yield command, output
            command, output = line[2:], []
        else:
            output.append(line)


def run(script, folder, environment):
    return subprocess.run(["bash", "-euo", "pipefail", "-c", script],
                          cwd=folder, env=environment, text=True,
                          stdout=subprocess.PIPE, stderr=subprocess.STDOUT)


def check(root, folder, environment):
    """Yields a problem for each block that is not what it claims."""
    for number, language, marker, argument, block in blocks(root / "README.md"):
        where = f"README.md:{number}"
        if marker == "from":
            source = root / argument
            if not source.is_file():
                yield f"{where}: no file {argument}"
            elif not block or not is_run_of(
                    block, source.read_text(encoding="utf-8").splitlines()):
                yield f"{where}: the block differs from {argument}"
        elif marker == "not run:":
            continue
        elif language == "sh":
            result = run("\n".join(block), folder, environment)
            if result.returncode != 0:
                yield (f"{where}: exit status {result.returncode}:\n"
                       f"{result.stdout}")
        elif language == "" and block and block[0].startswith("$ "):
            for command, expected in transcript(block):
                # Exit statuses are the command's to choose (diff's 1).
                printed = run(command, folder, environment).stdout.splitlines()
                if printed != expected:
                    yield (f"{where}: {command} printed\n" +
                           "\n".join(printed))
        else:
            yield f"{where}: a block that nothing checks"


def main(repository, tool_directory):
    root = Path(repository).resolve()
    environment = dict(os.environ,
                       PATH=f"{Path(tool_directory).resolve()}:{os.environ['PATH']}")
    with tempfile.TemporaryDirectory() as folder:
        os.symlink(root / "examples", Path(folder) / "examples")
        problems = list(check(root, folder, environment))
    print("\n".join(problems) or "every README block holds")
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main(*sys.argv[1:]))
