"""Checks that each code block of README.md that follows a line
`<!-- from PATH -->` is a run of consecutive lines of PATH (relative to the
repository), so that what the README shows is what the tests build and run.

Usage: readme_snippets.py REPOSITORY
"""

import re
import sys
from pathlib import Path

MARKER = re.compile(r"<!-- from (\S+) -->")


def blocks(readme):
    """Yields (line number, path, block lines) for each marked block."""
    lines = readme.read_text(encoding="utf-8").splitlines()
    for number, line in enumerate(lines):
        marker = MARKER.fullmatch(line.strip())
        if not marker:
            continue
        start = number + 1
        while start < len(lines) and not lines[start].startswith("```"):
            start += 1
        end = start + 1
        while end < len(lines) and lines[end] != "```":
            end += 1
        yield number + 1, marker.group(1), lines[start + 1:end]


def is_run_of(block, lines):
    return any(lines[i:i + len(block)] == block
               for i in range(len(lines) - len(block) + 1))


def main(repository):
    root = Path(repository)
    found, problems = 0, []
    for number, path, block in blocks(root / "README.md"):
        found += 1
        source = root / path
        if not block:
            problems.append(f"README.md:{number}: no code block after the marker")
        elif not source.is_file():
            problems.append(f"README.md:{number}: no file {path}")
        elif not is_run_of(block, source.read_text(encoding="utf-8").splitlines()):
            problems.append(f"README.md:{number}: the block differs from {path}")
    print("\n".join(problems) or f"{found} README blocks match their files")
    return 1 if problems or not found else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1]))
