"""A short run of every call path, for a leak checker watching the process:
LeakSanitizer in `./dev sanitize`, or valgrind.

    python tests/leak_script.py [calls per path]

Standard error is silenced while the paths run (some of them print the
internal-error diagnostic on every call); the sanitizers write their reports
to files of their own.
"""
import gc
import os
import sys
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent))

from leak_paths import paths, run  # noqa: E402


def main(times):
    saved = os.dup(2)
    with open(os.devnull, "w") as devnull:
        os.dup2(devnull.fileno(), 2)
        try:
            objects, calls = paths()
            count = len(calls)
            for fn in calls.values():
                run(fn, times)
        finally:
            os.dup2(saved, 2)
            os.close(saved)
    del objects, calls
    gc.collect()
    print(f"leak script: {count} paths x {times} calls")


if __name__ == "__main__":
    main(int(sys.argv[1]) if len(sys.argv) > 1 else 20)
