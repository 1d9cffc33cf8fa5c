"""What every test of the velmora package shares: a copy of the example
store to read and edit, and the package loaded from the build tree (CTest
sets PYTHONPATH and VELMORA_STORE_LIBRARY)."""

import pathlib
import shutil
import subprocess
import sys

import pytest

EXAMPLES = pathlib.Path(__file__).resolve().parents[2] / "examples"


@pytest.fixture
def store_path(tmp_path):
    """A fresh copy of examples/store.ini, the tests' own to edit."""
    path = tmp_path / "store.ini"
    shutil.copyfile(EXAMPLES / "store.ini", path)
    return path


def run_python(code):
    """Runs code in another python3 process with this one's environment and
    answers its standard output; a failure fails the test."""
    done = subprocess.run(
        [sys.executable, "-c", code], capture_output=True, text=True, timeout=60, check=False
    )
    assert done.returncode == 0, done.stderr
    return done.stdout
