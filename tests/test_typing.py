"""The type stub crypt_main.pyi: shipped next to the extension, consistent with it
(mypy.stubtest), and what mypy uses to accept typed code and refuse misuse.

Each check runs in an empty folder, so that the stub found is the installed one."""

import os
import pathlib
import re
import subprocess
import sys
import sysconfig

import pytest

import crypt_main

TYPING = pathlib.Path(__file__).parent / "typing"
CACHE = pathlib.Path(__file__).parent.parent / ".mypy_cache"


def python(*args, cwd):
    env = dict(os.environ, MYPY_CACHE_DIR=str(CACHE))
    env.pop("PYTHONPATH", None)
    return subprocess.run([sys.executable, *args], cwd=cwd, env=env, capture_output=True, text=True, timeout=300)


def test_stub_is_installed_next_to_the_extension_and_as_stub_package():
    site = pathlib.Path(crypt_main.__file__).parent
    assert site == pathlib.Path(sysconfig.get_paths()["platlib"])
    source = (TYPING.parent.parent / "crypt_main.pyi").read_text()
    for installed in (site / "crypt_main.pyi", site / "crypt_main-stubs" / "__init__.pyi"):
        assert installed.read_text() == source


def test_stubtest_finds_no_difference(tmp_path):
    done = python("-m", "mypy.stubtest", "crypt_main", cwd=tmp_path)
    assert done.returncode == 0, done.stdout + done.stderr
    assert "Success: no issues found" in done.stdout


def test_mypy_strict_accepts_typed_usage(tmp_path):
    done = python("-m", "mypy", "--strict", str(TYPING / "usage.py"), cwd=tmp_path)
    assert done.returncode == 0, done.stdout + done.stderr


def test_typed_usage_runs_with_the_declared_types(tmp_path):
    done = python(str(TYPING / "usage.py"), cwd=tmp_path)
    assert done.returncode == 0, done.stdout + done.stderr


def test_mypy_refuses_misuse(tmp_path):
    source = TYPING / "misuse.py"
    expected = {
        (number, marker.group(1))
        for number, line in enumerate(source.read_text().splitlines(), 1)
        if (marker := re.search(r"# error: ([\w-]+)$", line))
    }
    done = python("-m", "mypy", "--strict", str(source), cwd=tmp_path)
    found = {
        (int(hit.group(1)), hit.group(2))
        for hit in re.finditer(r"misuse\.py:(\d+): error: .*\[([\w-]+)\]$", done.stdout, re.MULTILINE)
    }
    assert found == expected, done.stdout
