"""tavelin's type information: the stub matches the module (stubtest), and
mypy and pyright find it by themselves and check the usage example clean."""
import os
import shutil
import subprocess
import sys
import sysconfig
from pathlib import Path

import pytest

import tavelin

USAGE = Path(__file__).resolve().parents[1] / "typed_usage.py"
MODULE_DIR = Path(tavelin.__file__).resolve().parent
INSTALLED = MODULE_DIR in {Path(sysconfig.get_path(k)).resolve() for k in ("purelib", "platlib")}

pytestmark = pytest.mark.skipif(os.environ.get("TAVELIN_SANITIZED") == "1",
                                reason="static checks: nothing for the sanitizers to see")


@pytest.fixture(scope="module")
def stub():
    path = MODULE_DIR / "tavelin.pyi"
    if not path.exists():
        pytest.skip(f"no tavelin.pyi beside the module in {MODULE_DIR}")
    return path


def check(*command):
    env = dict(os.environ)
    if not INSTALLED:
        # A build directory on PYTHONPATH: mypy reads stubs outside
        # site-packages from MYPYPATH only. Installed, it needs no help.
        env["MYPYPATH"] = str(MODULE_DIR)
    result = subprocess.run(command, capture_output=True, text=True, env=env, timeout=600)
    assert result.returncode == 0, result.stdout + result.stderr


def test_installed_as_module_stub_and_stub_package(stub):
    if not INSTALLED:
        pytest.skip("tavelin is used from a build directory")
    assert (MODULE_DIR / "tavelin-stubs" / "__init__.pyi").read_bytes() == stub.read_bytes()


def test_stub_matches_the_module(stub):
    pytest.importorskip("mypy")
    check(sys.executable, "-m", "mypy.stubtest", "tavelin")


def test_mypy_checks_the_usage_example(stub):
    pytest.importorskip("mypy")
    check(sys.executable, "-m", "mypy", "--strict", "--cache-dir", os.devnull,
          "--python-executable", sys.executable, str(USAGE))


def test_pyright_checks_the_usage_example(stub):
    pyright = Path(sys.executable).with_name("pyright")
    if not pyright.exists() or shutil.which("node") is None:
        pytest.skip("pyright (and Node.js, which runs it) not available")
    check(str(pyright), "--pythonpath", sys.executable, str(USAGE))


def test_usage_example_runs():
    sys.path.insert(0, str(USAGE.parent))
    try:
        import typed_usage
    finally:
        sys.path.remove(str(USAGE.parent))
    typed_usage.usage()
