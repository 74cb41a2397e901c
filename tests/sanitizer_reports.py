"""Reads the report files that AddressSanitizer, UndefinedBehaviorSanitizer and
LeakSanitizer wrote during `./dev sanitize` or `./dev fuzz`.

Exits non-zero on any error report, and on any leak whose allocation stack
passes through tavelin. Leaks of the interpreter and of NumPy at exit are
counted but not held against the module. Warnings that a huge allocation
failed are expected: the MemoryError tests ask for such allocations.

    python tests/sanitizer_reports.py REPORT_DIR
"""
import re
import sys
from pathlib import Path

# A stack frame in tavelin's own code: its shared library, a C++ function of
# its namespace, or one of its source files.
OURS = re.compile(r"tavelin\.cpython-[^/\s]*\.so|\btavelin::|/src/(?:surface|state|cost|assign)/\w+\.[ch]pp")
LEAK = re.compile(r"^(?:Direct|Indirect) leak of ")
# Blocks that are not findings: the frame of a leak report, and the warning
# written when an allocation is refused (the caller then sees MemoryError).
BENIGN = [
    re.compile(r"^=+\n==\d+==ERROR: LeakSanitizer: detected memory leaks$"),
    re.compile(r"^SUMMARY: AddressSanitizer: \d+ byte\(s\) leaked in \d+ allocation\(s\)\.$"),
    re.compile(r"^(?:==\d+==WARNING: AddressSanitizer failed to allocate 0x[0-9a-f]+ bytes\n?)+$"),
]


def blocks(text):
    """Blank-line separated blocks of a report."""
    return [block.strip("\n") for block in re.split(r"\n\s*\n", text) if block.strip()]


def main(root):
    errors, ours, other_leaks, failed_allocations = [], [], 0, 0
    files = sorted(p for p in Path(root).rglob("*") if p.is_file())
    for path in files:
        text = path.read_text(errors="replace")
        failed_allocations += len(re.findall(r"WARNING: AddressSanitizer failed to allocate", text))
        for block in blocks(text):
            if LEAK.match(block):
                if OURS.search(block):
                    ours.append((path, block))
                else:
                    other_leaks += 1
            elif not any(pattern.match(block) for pattern in BENIGN):
                errors.append((path, block))
    for path, block in errors:
        print(f"--- report {path}\n{block}")
    for path, block in ours:
        print(f"--- leak attributable to tavelin ({path})\n{block}")
    print(f"sanitizer reports: {len(errors)} error block(s), {len(ours)} leak(s) attributable to "
          f"tavelin, {other_leaks} leak(s) of the interpreter and its libraries at exit, "
          f"{failed_allocations} refused huge allocation(s)")
    return 1 if errors or ours else 0


if __name__ == "__main__":
    if len(sys.argv) != 2:
        sys.exit(__doc__)
    sys.exit(main(sys.argv[1]))
