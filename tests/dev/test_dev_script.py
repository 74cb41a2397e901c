"""./dev refuses an unusable interpreter with one clear message and runs
nothing after it."""
import os
import shutil
import subprocess
from pathlib import Path

import pytest

DEV = Path(__file__).resolve().parents[2] / "dev"


def interpreter(kind, tmp_path):
    """A PYTHON that ./dev must refuse, and the reason it must give."""
    if kind == "missing":
        return "no-such-python-here", "is not an installed command"
    if kind == "broken":
        broken = tmp_path / "python-that-fails"
        broken.write_text("#!/bin/sh\nexit 3\n")
        broken.chmod(0o755)
        return str(broken), "does not run"
    old = shutil.which("python3.11")
    if old is None:
        pytest.skip("no python3.11 on PATH")
    return old, "is Python 3.11."


@pytest.mark.skipif(not DEV.exists() or shutil.which("bash") is None, reason="no ./dev in this tree")
@pytest.mark.parametrize("kind", ["missing", "broken", "python3.11"])
def test_unusable_python_stops_with_one_message(tmp_path, kind):
    python, why = interpreter(kind, tmp_path)
    result = subprocess.run([str(DEV), "test"], env={**os.environ, "PYTHON": python},
                            capture_output=True, text=True, timeout=60)
    assert result.returncode == 1, result.stderr
    assert result.stdout == ""
    assert result.stderr.startswith(f"dev: PYTHON={python} {why}")
    assert result.stderr.count("needs CPython 3.12 or newer") == 1
    assert "installing" not in result.stderr and "No such file" not in result.stderr
