"""Helpers shared by the test files."""

import collections
import contextlib
import gc
import hashlib
import importlib
import os
import sys
import sysconfig
import time
import traceback

import pytest

import crypt_main

m = crypt_main.m_crypt


def crypt_entries(exc):
    """The traceback entries of `exc` in crypt_main.py, outermost first, as (function, line)."""
    return [(f.name, f.lineno) for f in traceback.extract_tb(exc.__traceback__) if f.filename == "crypt_main.py"]


def hexdigest(name, text):
    """hashlib's digest `name` of the UTF-8 text, in lower-case hexadecimal digits."""
    return hashlib.new(name, text.encode()).hexdigest()


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


# A free-threaded CPython (3.13t): no GIL, unless something turns it back on (the run
# fails then: see pytest_sessionfinish).
FREE_THREADED = bool(sysconfig.get_config_var("Py_GIL_DISABLED"))
# The test tools that a free-threaded CPython cannot have (requirements-dev.txt says why).
NOT_FOR_FREE_THREADED = {
    "cryptography": "cryptography has no wheel for a free-threaded CPython 3.13 and builds only with Rust",
    "jwcrypto": "jwcrypto needs cryptography, which has no wheel for a free-threaded CPython 3.13",
    "joserfc": "joserfc needs cryptography, which has no wheel for a free-threaded CPython 3.13",
    "greenlet": "greenlet 3.5 does not build for a free-threaded CPython 3.13, and 3.2 turns the GIL back on",
}


def tool(name):
    """The test tool `name` (a module), imported. On a free-threaded CPython that cannot
    have it, the test that asks for it is skipped, saying why; asked for at a file's top,
    the file is."""
    if FREE_THREADED and name.partition(".")[0] in NOT_FOR_FREE_THREADED:
        return pytest.importorskip(name, reason=NOT_FOR_FREE_THREADED[name.partition(".")[0]])
    return importlib.import_module(name)


def scaled(count, divisor=20):
    """`count`, or a share of it in an instrumented run."""
    return max(1, count // divisor) if SANITIZED else count


# Figures that the reliability tests gather (calls made, examples run, failure points
# tried), printed at the end of the run.
FIGURES = collections.Counter()

# What a figure means where its name alone could read as a fault of the module.
FIGURE_NOTES = {
    "not crypt_main's": "counted, not failed: with an allocation made to fail, CPython itself and some packages"
                        " crash in code of their own; the sweep tells such a crash from one of the module's by"
                        " where it happened (tools/crash_diagnosis.py), and a crash in the module fails its test",
}


def left_out_when_sanitized():
    """Why an instrumented run has fewer tests than a plain one, as one line."""
    cut = "long loops are cut down (scaled())"
    nomemory = sys.modules.get("test_nomemory")  # when collected
    cases, swept = getattr(nomemory, "CASES", None), getattr(nomemory, "SWEPT", None)
    if not cases or swept is None:
        return f"instrumented run (CRYPT_MAIN_SANITIZED=1): {cut}"
    left = sum(1 for case in cases if case.swept) - len(swept)
    return (f"instrumented run (CRYPT_MAIN_SANITIZED=1): {left} tests fewer than a plain run: the"
            " allocation-failure sweeps of the calls that fail (tests/test_nomemory.py) are the"
            f" plain run's, this one sweeps each working call; {cut}")


def pytest_sessionfinish(session):
    if FREE_THREADED and sys._is_gil_enabled():
        session.exitstatus = pytest.ExitCode.TESTS_FAILED
        print("\nthe GIL was turned on during the run: a module imported without declaring that it does not"
              " need it (python -X gil=0 would hide it)", file=sys.stderr)


def pytest_terminal_summary(terminalreporter):
    if FREE_THREADED:
        terminalreporter.write_line(f"free-threaded CPython: the GIL is {'on' if sys._is_gil_enabled() else 'off'}")
    if SANITIZED:
        terminalreporter.write_line(left_out_when_sanitized())
    if FIGURES:
        terminalreporter.section("reliability figures: what the tests covered (counts, not failures)")
        noted = set()  # each note once, after the first figure it explains
        for name, value in sorted(FIGURES.items()):
            key = next((key for key in FIGURE_NOTES if key in name), None)
            note = key not in noted and FIGURE_NOTES.get(key)
            noted.add(key)
            terminalreporter.write_line(f"{name}: {value}" + (f" ({note})" if note else ""))


# A long run says how far it is at most every PROGRESS_EVERY seconds, on a line of its own
# between two tests ("... 523/1288 tests, 3 min 12 s"): logs that show only whole lines
# (CI's) would otherwise show nothing while a slow file's results fill a line. A run that
# ends sooner prints nothing more. A long test says how far it is itself (the
# allocation-failure sweeps), on the same clock: any progress line counts for both.
PROGRESS_EVERY = 30


class Progress:
    said = time.monotonic()  # when the run last printed a progress line, of either kind

    @classmethod
    def due(cls, every):
        """Whether `every` seconds have passed since the last progress line; if so, the
        caller prints one now."""
        now = time.monotonic()
        if now - cls.said < every:
            return False
        Progress.said = now
        return True

    def __init__(self, reporter):
        self.reporter = reporter
        self.total = self.done = 0
        self.started = Progress.said = time.monotonic()

    def pytest_collection_finish(self, session):
        self.total = len(session.items)
        self.started = Progress.said = time.monotonic()

    def pytest_runtest_logfinish(self):
        self.done += 1
        if self.done < self.total and Progress.due(PROGRESS_EVERY):
            elapsed = int(Progress.said - self.started)
            writer = self.reporter._tw
            if writer.width_of_current_line:
                writer.line()
            took = f"{elapsed // 60} min {elapsed % 60} s" if elapsed >= 60 else f"{elapsed} s"
            writer.line(f"... {self.done}/{self.total} tests, {took}")
            writer.flush()


@pytest.hookimpl(trylast=True)  # after the terminal reporter is made
def pytest_configure(config):
    reporter = config.pluginmanager.get_plugin("terminalreporter")
    if reporter is not None and hasattr(reporter, "_tw"):
        config.pluginmanager.register(Progress(reporter), "crypt_main-progress")
