"""Finding and running the programs that the peer tests talk to."""

import os
import pathlib
import shutil
import subprocess
import sys

import pytest

HERE = pathlib.Path(__file__).parent
DOCS = HERE.parent.parent / "docs"


def program(name, package):
    """The path of `name`; skips the test when it is missing (fails under CI, where
    `make peers` installs it, so that a broken install cannot pass as a skip)."""
    if not sys.platform.startswith("linux"):
        pytest.skip(f"the peer tests run Debian's {name} (package {package}): Linux only")
    path = shutil.which(name)
    if path is None:
        unavailable(f"{name} not installed (Debian package {package}; `make peers` installs it as root)")
    return path


def unavailable(message):
    """Skips the test for a peer that is missing or unfit; fails it under CI instead."""
    if os.environ.get("CI"):
        pytest.fail(message)
    pytest.skip(message)


# The environment of the peer programs: in `make sanitize` the sanitizer runtime that is
# preloaded into Python is not theirs.
PROGRAM_ENV = {name: value for name, value in os.environ.items() if name != "LD_PRELOAD"}


def run(command, stdin=b""):
    """Runs `command` and returns its standard output as bytes; a failure shows its stderr."""
    done = subprocess.run(command, input=stdin, capture_output=True, timeout=60, env=PROGRAM_ENV)
    assert done.returncode == 0, f"{command} failed: {done.stderr.decode(errors='replace')}"
    return done.stdout


def interop_page(peer):
    """The text of the documentation's page of `peer` (docs/interop/<peer>.md)."""
    return (DOCS / "interop" / f"{peer}.md").read_text(encoding="utf-8")
