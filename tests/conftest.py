"""Helpers shared by the test files."""

import collections
import contextlib
import gc
import os
import sys
import traceback

import pytest

import crypt_main

m = crypt_main.m_crypt


def crypt_entries(exc):
    """The traceback entries of `exc` in crypt_main.py, outermost first, as (function, line)."""
    return [(f.name, f.lineno) for f in traceback.extract_tb(exc.__traceback__) if f.filename == "crypt_main.py"]


def raises_at(exc_type, call, *entries, match=None):
    """Runs `call()`, expects `exc_type`, and checks the module's traceback entries.

    Each entry is (method name, line); the function name shown is "crypt_main._Crypt.<name>".
    Returns the exception for further checks.
    """
    with pytest.raises(exc_type, match=match) as info:
        call()
    expected = [(f"crypt_main._Crypt.{name}", line) for name, line in entries]
    assert crypt_entries(info.value) == expected
    return info.value


@contextlib.contextmanager
def module_global(name, value):
    """Binds the module global `name` to `value` (or deletes it when value is DELETE) for a while."""
    namespace = crypt_main.__dict__
    saved = list(namespace.items())
    if value is DELETE:
        del namespace[name]
    else:
        namespace[name] = value
    try:
        yield
    finally:
        namespace.clear()  # restores the bindings in their order
        namespace.update(saved)


DELETE = object()


def blocks_growth(call, count, warmup=1000):
    """How much sys.getallocatedblocks() grew over `count` calls of `call` (after a warm-up)."""
    def run(n):
        for _ in range(n):
            try:
                call()
            except Exception:
                pass

    run(warmup)
    gc.collect()
    before = sys.getallocatedblocks()
    run(count)
    gc.collect()
    return sys.getallocatedblocks() - before


# Set by `make sanitize` and `make valgrind`: the instrumented runs cut the long loops down.
SANITIZED = os.environ.get("CRYPT_MAIN_SANITIZED") == "1"


def scaled(count, divisor=20):
    """`count`, or a share of it in an instrumented run."""
    return max(1, count // divisor) if SANITIZED else count


# Figures that the reliability tests gather (calls made, examples run, failure points
# tried), printed at the end of the run.
FIGURES = collections.Counter()

# What a figure means where its name alone could read as a fault of the module.
FIGURE_NOTES = {
    "allocation failures: crashes of the interpreter in PyJWT's code":
        "CPython 3.13.0's own faults while a forced allocation failure runs PyJWT's Python code;"
        " each crash's innermost frame is checked not to be the module's (tools/crash_diagnosis.py)",
    "allocation failures: start-up crashes in the interpreter's type()":
        "CPython 3.13.0's own fault in type() under a forced allocation failure, recognised by its stack",
}


def pytest_terminal_summary(terminalreporter):
    if FIGURES:
        terminalreporter.section("reliability figures: what the tests covered (counts, not failures)")
        for name, value in sorted(FIGURES.items()):
            note = FIGURE_NOTES.get(name)
            terminalreporter.write_line(f"{name}: {value}" + (f" ({note})" if note else ""))
