"""Reads the report files that AddressSanitizer, UndefinedBehaviorSanitizer and
LeakSanitizer wrote during `./dev sanitize` or `./dev fuzz`, and the log of
valgrind's memcheck (files named valgrind.*) written during `./dev valgrind`.

Exits non-zero on any sanitizer error report, and on any leak or memcheck
error whose stack passes through tavelin. Leaks and memcheck findings of the
interpreter and of NumPy are counted but not held against the module.
Warnings that a huge allocation failed are expected: the MemoryError tests
ask for such allocations.

    python tests/sanitizer_reports.py REPORT_DIR
"""
import re
import sys
from pathlib import Path

# A stack frame in tavelin's own code: its shared library, a C++ function of
# its namespace, or one of its source files.
OURS = re.compile(r"tavelin\.cpython-[^/\s]*\.so|\btavelin::|/src/(?:surface|state|cost|assign)/\w+\.[ch]pp")
LEAK = re.compile(r"^(?:Direct|Indirect) leak of ")
# Frames of Python code running: an allocation made by code that a call of
# tavelin's ran (caller code in a conversion, an import by the interpreter's
# traceback printer) belongs to that code, not to tavelin.
PYTHON_CODE = re.compile(r"_PyEval_EvalFrame|PyEval_EvalCode|_PyEval_Vector|PyImport_|import_find_and_load")
FRAME = re.compile(r"^\s*(?:#\d+ 0x[0-9a-f]+ in |(?:at|by) 0x[0-9A-F]+: )(.*)$", re.M)


def attributable(block):
    """Whether the allocation (or error) at the top of a stack was made by
    tavelin itself: some frame is tavelin's, and no Python code runs between
    it and the top."""
    for frame in FRAME.findall(block):
        if OURS.search(frame):
            return True
        if PYTHON_CODE.search(frame):
            return False
    return False
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


def memcheck_records(text):
    """The error and leak records of a valgrind log, without its ==pid== prefixes."""
    text = re.sub(r"^==\d+== ?", "", text, flags=re.M)
    return [block for block in blocks(text) if MEMCHECK.match(block)]


MEMCHECK = re.compile(r"^(?:Invalid |Conditional jump|Use of uninitialised|Syscall param|Mismatched |"
                      r"Source and destination overlap|Argument '|\S+ bytes in \S+ blocks are definitely lost)")


def main(root):
    errors, ours, other_leaks, failed_allocations = [], [], 0, 0
    files = sorted(p for p in Path(root).rglob("*") if p.is_file())
    for path in files:
        text = path.read_text(errors="replace")
        if path.name.startswith("valgrind"):
            for block in memcheck_records(text):
                if attributable(block):
                    ours.append((path, block))
                else:
                    other_leaks += 1
            continue
        failed_allocations += len(re.findall(r"WARNING: AddressSanitizer failed to allocate", text))
        for block in blocks(text):
            if LEAK.match(block):
                if attributable(block):
                    ours.append((path, block))
                else:
                    other_leaks += 1
            elif not any(pattern.match(block) for pattern in BENIGN):
                errors.append((path, block))
    for path, block in errors:
        print(f"--- report {path}\n{block}")
    for path, block in ours:
        print(f"--- attributable to tavelin ({path})\n{block}")
    print(f"reports: {len(errors)} sanitizer error block(s), {len(ours)} leak(s) or memcheck "
          f"error(s) attributable to tavelin, {other_leaks} of the interpreter and its libraries, "
          f"{failed_allocations} refused huge allocation(s)")
    return 1 if errors or ours else 0


if __name__ == "__main__":
    if len(sys.argv) != 2:
        sys.exit(__doc__)
    sys.exit(main(sys.argv[1]))
