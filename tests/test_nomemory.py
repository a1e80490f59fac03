"""Allocation failures: the k-th allocation inside a call (or inside the module's
start-up) fails, for every k up to the number of allocations the call makes. Every
call ends in MemoryError, another ordinary exception or the correct result, and the
next call works.

Only one allocation fails at a time: when every allocation from some point on fails,
the interpreter itself can loop for ever (entering an exception handler at a large
code offset needs a new integer)."""

import functools
import os
import signal
import subprocess
import sys
import textwrap

import pytest

from failing_allocation import with_allocation_failing
from method_cases import CASES, PRI, PUB
from conftest import FIGURES, SANITIZED

sys.path.insert(0, os.path.join(os.path.dirname(__file__), "..", "tools"))
import crash_diagnosis as diagnosis  # noqa: E402  (reads crashes' stacks, knows the interpreter's faults)

if not sys.platform.startswith("linux"):
    pytest.skip("the sweeps tell crashes by their signals and read their stacks with gdb: Linux only",
                allow_module_level=True)
testcapi = pytest.importorskip("_testcapi")
if not hasattr(testcapi, "set_nomemory"):
    pytest.skip("this interpreter cannot make allocations fail", allow_module_level=True)

LIMIT = 20_000  # allocations in one call, at most


def attempt(call, k):
    """`call` with its k-th allocation failing (see with_allocation_failing)."""
    blinding = [(key.blindfac, key.blindfac_inverse) for key in (PUB, PRI)]
    outcome = with_allocation_failing(k, call)
    # python-rsa updates a key's two blinding factors one after the other on every use:
    # a MemoryError between the two leaves the key unusable. That is the package's
    # state, not the module's: it is put back.
    for key, (factor, inverse) in zip((PUB, PRI), blinding):
        key.blindfac, key.blindfac_inverse = factor, inverse
    return outcome


def normally(call):
    try:
        return call(), None
    except Exception as e:
        return None, e


def as_expected(case, result, error):
    if case.error is None:
        return error is None and case.verify(result)
    return isinstance(error, case.error)


def lost_by_the_interpreter(error):
    """The interpreter and the standard library are not proof against failing
    allocations: a Python frame whose traceback entry cannot be made loses its exception
    ("error return without exception set", "<function f at ...> returned NULL without
    setting an exception"; divmod(1, 2, 3) called from Python gets the same), and json's
    C encoder can return a result with an exception set. A SystemError that names one of
    the module's functions (_Crypt.<name>) is the module's fault."""
    return "_Crypt." not in str(error)


def acceptable(case, result, error):
    """MemoryError, another ordinary exception, or the correct result."""
    if error is None:
        return case.error is None and case.verify(result)
    return not isinstance(error, SystemError) or lost_by_the_interpreter(error)


def sweep(case, start=0):
    """The sweep over one call, from its `start`-th allocation on; returns the number of
    allocations the call makes. Prints each k before it is tried."""
    with case.context():
        for _ in range(3):  # warm up the caches that a first call fills
            normally(case.call)
        assert as_expected(case, *normally(case.call))

        # The k-th allocation alone fails, for k = 0, 1, 2, ... until the failure comes
        # after the call; after each, the next call works.
        for k in range(start, LIMIT):
            print("trying", k, flush=True)
            result, error, reached = attempt(case.call, k)
            if not reached:
                break
            assert acceptable(case, result, error), (k, error)
            assert as_expected(case, *normally(case.call)), k
        else:
            raise AssertionError("the call never ended")
        assert as_expected(case, result, error)
    return k


# CPython 3.13.0 itself crashes when single allocations fail while Python code runs that
# makes functions: PyJWT's does, and the token methods run it (tools/crash_diagnosis.py;
# test_the_interpreter_crashes_on_its_own below). Under the sanitizers, the Rust part of
# the cryptography package, which PyJWT loads where it is installed, aborts first (a panic
# on a null object pointer where an allocation failed).

# The interpreter's own error paths leak when allocations fail (long multiplication, for
# one): under the sanitizers the sweeps look for crashes and wrong results, not for leaks.
SWEEP_ENV = dict(os.environ, ASAN_OPTIONS="detect_leaks=0") if SANITIZED else None
HERE = os.path.dirname(__file__)

# The rows that stand for a class of failure, each in a process of its own; an
# instrumented run sweeps the working calls only.
SWEPT = [c for c in CASES if c.swept and (c.kind == "ok" or not SANITIZED)]


@pytest.mark.parametrize("case", SWEPT, ids=lambda c: c.id)
def test_failing_allocations_in_a_call(case):
    # In a process of its own: a crash fails this case alone. For the token methods, which
    # run PyJWT's code, the sweep goes on in a new process after a crash whose innermost
    # frame is not the module's (see above), and the crashes are counted.
    index = CASES.index(case)
    start, crashes = 0, 0
    while True:
        command = [sys.executable, "-c", f"import test_nomemory as t; print(t.sweep(t.CASES[{index}], {start}))"]
        result = subprocess.run(command, cwd=HERE, capture_output=True, text=True, timeout=600, env=sweep_env())
        lines = result.stdout.split()
        if result.returncode == 0 or not case.method.startswith("token") or lines[-2:-1] != ["trying"]:
            break
        stack = stack_of_crash(command)
        assert stack and not diagnosis.crashed_in_the_module(stack), (result.stderr[-3000:], stack[-5000:])
        crashes += 1
        start = int(lines[-1]) + 1
    assert result.returncode == 0, result.stderr[-3000:]
    FIGURES["allocation failures: points in calls"] += int(lines[-1])
    FIGURES["allocation failures: cases"] += 1
    FIGURES["allocation failures: crashes of the interpreter in PyJWT's code"] += crashes


# The module's own start-up: creation and execution, as the import system runs them once
# it has found the module (the finders themselves are the interpreter's, and hang or
# shrug off failures of their own).
IMPORT_SWEEP = """
    import gc, importlib.util, sys, types
    from failing_allocation import with_allocation_failing
    # the packages that the module imports are loaded first: their own start-up is not ours
    import base64, binascii, hashlib, hmac, time, jwt, rsa
    import Crypto.Cipher.AES, Crypto.Cipher.DES, Crypto.Util.Padding

    spec = importlib.util.find_spec("crypt_main")

    def start_up():
        module = spec.loader.create_module(spec)
        sys.modules["crypt_main"] = module
        spec.loader.exec_module(module)
        return module

    k = int(sys.argv[1])
    while True:
        print("trying", k, flush=True)
        module, error, reached = with_allocation_failing(k, start_up)
        if error is None:
            break
        sys.modules.pop("crypt_main", None)  # as the import system does
        assert not isinstance(error, SystemError) or "_Crypt." not in str(error), (k, error)
        # When the interpreter cannot make a MemoryError it raises one it keeps for the
        # purpose, which then holds the traceback (and through it the failed module) until
        # it is raised again.
        error.__traceback__ = None
        module = error = None
        k += 1
    # the module that got through works, a later import finds it, no half-built one is left
    assert module.m_crypt.md5("abc", "lower") == "900150983cd24fb0d6963f7d28e17f72"
    import crypt_main
    assert crypt_main is module
    gc.collect()
    modules = [m for m in gc.get_objects() if isinstance(m, types.ModuleType) and m.__name__ == "crypt_main"]
    assert modules == [crypt_main], modules
    print(k, "done" if not reached else "more")
"""


def sweep_env():
    # the same allocations on every run of the same command: no hash randomisation
    return dict(SWEEP_ENV or os.environ, PYTHONHASHSEED="0")


def stack_of_crash(command):
    try:
        return diagnosis.stack_of_crash(command, cwd=HERE, env=sweep_env())
    except diagnosis.NoDebugger as e:
        if os.environ.get("CI"):
            pytest.fail(str(e))
        pytest.skip(str(e))


@functools.cache
def interpreter_has_the_type_fault():
    return diagnosis.interpreter_has_the_type_fault(env=sweep_env())


def sweep_import(start):
    """Start-ups from the `start`-th allocation on, in one process. Returns the last k
    tried, whether the sweep is done, and whether the process crashed (at that k)."""
    command = [sys.executable, "-c", textwrap.dedent(IMPORT_SWEEP), str(start)]
    result = subprocess.run(command, cwd=HERE, capture_output=True, text=True, timeout=600, env=sweep_env())
    lines = result.stdout.split("\n")
    if result.returncode != 0 and lines[-2:-1] and lines[-2].startswith("trying "):
        k = int(lines[-2].split()[1])
        stack = stack_of_crash(command)
        if stack and interpreter_has_the_type_fault():  # a start-up crash: the interpreter's fault in type()
            assert diagnosis.is_the_type_fault(stack), stack[-5000:]
            return k, False, True
    assert result.returncode == 0, result.stderr[-3000:]
    k, state = lines[-2].split()
    return int(k), state == "done", False


def test_failing_allocations_at_start_up():
    # The k-th allocation of start-up fails, for k = 0, 1, 2, ..., each start-up after
    # a failed one in the same process. One that gets through although an allocation
    # failed ends its process, and the sweep goes on in a new one, as it does after a
    # crash of the interpreter's own (see above).
    k, done, processes, crashes = 0, False, 0, 0
    while not done:
        k, done, crashed = sweep_import(k)
        k += 1
        processes += 1
        crashes += crashed
    FIGURES["allocation failures: points at start-up"] += k
    FIGURES["allocation failures: start-up processes"] += processes
    FIGURES["allocation failures: start-up crashes in the interpreter's type()"] += crashes


@pytest.mark.skipif(sys.version_info[:3] != (3, 13, 0), reason="the faults are those of CPython 3.13.0")
def test_the_interpreter_crashes_on_its_own():
    # What the crashes accepted in the token and start-up sweeps rest on: this interpreter
    # crashes under single failing allocations without the module, and the start-up
    # check recognises the type() fault by its stack (and nothing else by it).
    assert interpreter_has_the_type_fault()
    # run as users run the interpreter: with its own allocator, without the sanitizers
    plain = {k: v for k, v in sweep_env().items() if k not in ("LD_PRELOAD", "PYTHONMALLOC")}
    codes = [subprocess.run([sys.executable, "-c", diagnosis.CRASHING_CLOSURE, str(n)], env=plain,
                            capture_output=True, timeout=600).returncode for n in (1, 3, 10)]
    assert -signal.SIGSEGV in codes
    assert not diagnosis.is_the_type_fault("#0 dictresize\n#1 insertdict\n#2 PyDict_SetItem\n#3 _PyEval_EvalFrameDefault")
    # a crash is the module's when its innermost frame is, whoever called it
    assert diagnosis.crashed_in_the_module("#0 cm::token (c=...) at src/tokens/tokens.cpp:22\n#1 PyObject_Vectorcall")
    assert not diagnosis.crashed_in_the_module("#0 dictresize\n#1 cm::token (c=...)\n#2 crypt_main.so")
