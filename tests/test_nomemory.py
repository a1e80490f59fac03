"""Allocation failures: the k-th allocation inside a call (or inside the module's
start-up) fails, for every k up to the number of allocations the call makes. Every
call ends in MemoryError, another ordinary exception or the correct result, and the
next call works.

Only one allocation fails at a time: when every allocation from some point on fails,
the interpreter itself can loop for ever (entering an exception handler at a large
code offset needs a new integer)."""

import collections
import functools
import os
import random
import re
import subprocess
import sys
import tempfile
import textwrap
import threading
import time
import traceback

import pytest

from failing_allocation import with_allocation_failing
from method_cases import CASES, PRI, PUB
from conftest import FIGURES, FREE_THREADED, SANITIZED, Progress

sys.path.insert(0, os.path.join(os.path.dirname(__file__), "..", "tools"))
import crash_diagnosis as diagnosis  # noqa: E402  (reads crashes' stacks, knows the interpreter's faults)

if not sys.platform.startswith("linux"):
    pytest.skip("the sweeps tell crashes by their signals and read their stacks with gdb: Linux only",
                allow_module_level=True)
if os.environ.get("CRYPT_MAIN_EMULATED"):  # set by tools/test-wheel-root under emulation
    pytest.skip("under emulation (qemu-user) gdb cannot trace the sweeps' processes, so a crash cannot be"
                " told the interpreter's or the module's; and the sweeps take hours there", allow_module_level=True)
testcapi = pytest.importorskip("_testcapi")
if not hasattr(testcapi, "set_nomemory"):
    pytest.skip("this interpreter cannot make allocations fail", allow_module_level=True)

if FREE_THREADED and diagnosis.interpreter_has_the_list_fault():
    pytest.skip("this free-threaded CPython frees a list's item array twice when a new list's own cannot be"
                " allocated (PyList_New), shown without the module (tools/crash_diagnosis.py: LIST_DOUBLE_FREE),"
                " and then loops for ever at exit: the sweeps would find the interpreter's fault, not the module's",
                allow_module_level=True)

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


def same_randomness():
    """python-rsa's random numbers (blinding, padding) drawn from a seeded generator in a
    sweep's process: its allocations are then the same when it runs again (under gdb)."""
    os.urandom = random.Random(0).randbytes


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
    the module's functions (_Crypt.<name>) is the module's fault, and so is a result
    with an exception set that the module's own step reports (its innermost traceback
    entry is the module's): the module may have made that call with an exception
    pending."""
    if "_Crypt." in str(error):
        return False
    if "returned a result with an exception set" in str(error):
        entries = traceback.extract_tb(error.__traceback__)
        return bool(entries) and entries[-1].filename != "crypt_main.py"
    return True


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
            # the method called straight from here: no frame of the sweep's own between
            result, error, reached = attempt(functools.partial(case.function(), *case.args, **case.kwargs), k)
            if not reached:
                break
            assert acceptable(case, result, error), (k, error)
            assert as_expected(case, *normally(case.call)), k
        else:
            raise AssertionError("the call never ended")
        assert as_expected(case, result, error)
    return k


# The interpreter itself is not proof against single failing allocations either, and some
# of its faults crash it: CPython 3.13.0 uses a freed code object or traceback while Python
# code runs that makes functions (PyJWT's does); a frame that is popped can lose the
# pending exception (3.13.5: a debug build stops on its assertion in ceval.c, a release
# build raises SystemError "error return without exception set"), and a Python function
# that the module calls then returns NULL without an exception, which a debug build's
# result check stops on. A crash is accepted only where its stack shows it to be the
# interpreter's (tools/crash_diagnosis.py: where it happened, not which version); the
# sweep then goes on past it in a new process, and the fault is counted under its name.
# Under the sanitizers, the Rust part of the cryptography package, which PyJWT loads
# where it is installed, aborts first (a panic on a null object pointer where an
# allocation failed).

# The interpreter's own error paths leak when allocations fail (long multiplication, for
# one): under the sanitizers the sweeps look for crashes and wrong results, not for leaks.
SWEEP_ENV = dict(os.environ, ASAN_OPTIONS="detect_leaks=0") if SANITIZED else None
HERE = os.path.dirname(__file__)

# The rows that stand for a class of failure, each in a process of its own; an
# instrumented run sweeps the working calls only.
SWEPT = [c for c in CASES if c.swept and (c.kind == "ok" or not SANITIZED)]

SANITIZER_REPORT = re.compile(r"ERROR: \w+Sanitizer|runtime error: ")
PROGRESS_EVERY = 20  # seconds: a long sweep says how far it got at least this often (after any progress line)


def run_sweep(command, progress):
    """Runs a sweep process, passing each "trying k" line to `progress` as it comes.
    Returns its exit status, its last line and its error output."""
    with tempfile.TemporaryFile("w+") as errors:
        process = subprocess.Popen(command, cwd=HERE, stdout=subprocess.PIPE, stderr=errors, text=True,
                                   env=sweep_env())
        timer = threading.Timer(600, process.kill)
        timer.start()
        last = ""
        try:
            for line in process.stdout:
                last = line.strip()
                progress(last)
            process.wait()
        finally:
            timer.cancel()
            process.kill()
            process.stdout.close()
        errors.seek(0)
        return process.returncode, last, errors.read()


def recognised(fault, report):
    """Fails on a fault of the module's; otherwise the name it is counted under."""
    assert not fault.module, f"the module's fault: {fault}\n{report[-6000:]}"
    whose = "the interpreter's own crashes" if fault.owner == "the interpreter" else "a package's own crashes"
    return f"allocation failures: {whose}, not crypt_main's ({fault})"


@pytest.mark.parametrize("case", SWEPT, ids=lambda c: c.id)
def test_failing_allocations_in_a_call(case, capsys):
    # In a process of its own: a crash fails this case alone, unless it is the
    # interpreter's own fault (see above).
    index = CASES.index(case)
    start, faults = 0, collections.Counter()
    started = time.monotonic()

    def progress(last):
        if Progress.due(PROGRESS_EVERY):
            with capsys.disabled():
                print(f"\n[allocation failures] {case.id}: {last}, {faults.total()} crashes not of the module, "
                      f"{Progress.said - started:.0f} s", flush=True)

    def command(start):
        return [sys.executable, "-c",
                f"import test_nomemory as t; t.same_randomness(); print(t.sweep(t.CASES[{index}], {start}))"]

    while True:
        status, last, errors = run_sweep(command(start), progress)
        if status == 0:
            break
        # a crash (a signal, or a sanitizer's report) while the k-th allocation failed; an
        # assertion of the sweep fails at once
        sanitizer = SANITIZER_REPORT.search(errors)
        assert (status < 0 or sanitizer) and last.startswith("trying "), errors[-3000:]
        k = int(last.split()[1])
        # what the process printed, else its stack from running it again under gdb
        fault = diagnosis.fault_from_output(errors)
        report = errors
        if fault is None and not sanitizer:
            report = stack_of_crash(command(start))
            assert report, f"the crash at {k} did not happen again under the debugger:\n{errors[-3000:]}"
            fault = diagnosis.diagnose(report + errors)
        if fault is None:  # the sanitizer's report, in what the process printed
            fault = diagnosis.diagnose(errors)
        faults[recognised(fault, report)] += 1
        start = k + 1
    FIGURES["allocation failures: points in calls"] += int(last)
    FIGURES["allocation failures: cases"] += 1
    FIGURES.update(faults)


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
    tried, whether the sweep is done, and the name of the interpreter's fault that
    crashed the process at that k (None: no crash)."""
    command = [sys.executable, "-c", textwrap.dedent(IMPORT_SWEEP), str(start)]
    result = subprocess.run(command, cwd=HERE, capture_output=True, text=True, timeout=600, env=sweep_env())
    lines = result.stdout.split("\n")
    if result.returncode < 0 and lines[-2:-1] and lines[-2].startswith("trying "):
        k = int(lines[-2].split()[1])
        report = stack_of_crash(command)
        assert report, f"the crash at {k} did not happen again under the debugger:\n{result.stderr[-3000:]}"
        # The module's start-up makes its types through the interpreter's type(); where
        # this interpreter is shown to crash in type() without the module, that crash is
        # recognised by its stack (CPython 3.13.0 has it).
        if diagnosis.is_the_type_fault(report) and interpreter_has_the_type_fault():
            return k, False, ("allocation failures: the interpreter's own crashes, not crypt_main's (segmentation"
                              " fault in type(), dictresize while type_ready fills a new type's dictionary, shown"
                              " without the module)")
        return k, False, recognised(diagnosis.diagnose(report + result.stderr), report)
    assert result.returncode == 0, result.stderr[-3000:]
    k, state = lines[-2].split()
    return int(k), state == "done", None


def test_failing_allocations_at_start_up():
    # The k-th allocation of start-up fails, for k = 0, 1, 2, ..., each start-up after
    # a failed one in the same process. One that gets through although an allocation
    # failed ends its process, and the sweep goes on in a new one, as it does after a
    # crash of the interpreter's own (see above).
    k, done, processes, faults = 0, False, 0, collections.Counter()
    while not done:
        k, done, fault = sweep_import(k)
        k += 1
        processes += 1
        if fault:
            faults[fault] += 1
    FIGURES["allocation failures: points at start-up"] += k
    FIGURES["allocation failures: start-up processes"] += processes
    FIGURES.update(faults)


def test_crash_diagnosis():
    # Whose fault a crash is, from reports as gdb and the interpreter give them (cut to
    # the lines that decide): the nearest frame past abort() and the fatal error path.
    libc = "#{} 0x00007f0000001000 in {} () from /lib/x86_64-linux-gnu/libc.so.6"
    stop = "\n".join(libc.format(i, name) for i, name in enumerate(["??", "raise", "abort", "??"]))
    def frames(*functions, first=4):
        return "\n".join(f"#{first + i} 0x00000000005e20de in {f} (tstate=<crypt_main.function at remote 0x7f>) "
                         f"at ../Python/x.c:1" for i, f in enumerate(functions))
    eval_assertion = ("python: ../Python/ceval.c:872: _PyEval_EvalFrameDefault: Assertion `_PyErr_Occurred(tstate)'"
                      " failed.")
    # an exception lost while a frame is popped, in Python code the module called, or not
    interpreter = [stop + "\n" + frames("_PyEval_EvalFrameDefault", "_PyEval_Vector", "PyObject_Vectorcall",
                                        "cm::Callee::call", "cm::aes_ecb") + "\n" + eval_assertion,
                   stop + "\n" + frames("_PyEval_EvalFrameDefault", "PyEval_EvalCode", "main") + "\n" + eval_assertion]
    # a segmentation fault in the module's code (inlined from the interpreter's header too)
    module = ["Program received signal SIGSEGV\n#0  cm::namespace_item (dict=<optimized out>) at src/frame/lookup.h:106"
              "\n#1  cm::global (name=...) at src/frame/globals.h:17\n" + frames("_PyEval_EvalFrameDefault", first=2),
              "#0  0x00007f in ?? () from /venv/site-packages/crypt_main.cpython-313d-x86_64-linux-gnu.so\n"
              "#1  0x00000000004bab8b in _PyVectorcall_Call (callable=<function at remote 0x7f>) at ../Objects/call.c:285"]
    # a call into the interpreter, made by the module, that failed, or that was made with an
    # exception set (the debug build's assertion in the callee)
    module += [frames("dictresize", "insertdict", "PyDict_SetItem", "cm::token", "_PyEval_EvalFrameDefault", first=0),
               stop + "\n" + frames("_PyObject_Call", "PyObject_Call", "cm::Callee::call", "cm::token") +
               "\npython: ../Objects/call.c:342: _PyObject_Call: Assertion `!_PyErr_Occurred(tstate)' failed."]
    interpreter.append(module[-1].replace("cm::Callee::call", "_PyEval_EvalFrameDefault"))
    # the debug build's result check: the callee that returned NULL without an exception
    # lost it; a result with an exception set is held against the caller
    check = ("Fatal Python error: _Py_CheckFunctionResult: a function {1}\n"
             "SystemError: <{0} at 0x7fbc13deaf90> {1}\n")
    null, result = "returned NULL without setting an exception", "returned a result with an exception set"
    stack = stop + "\n" + frames("_Py_FatalErrorFunc", "_Py_CheckFunctionResult", "slot_nb_bool", "cm::token")
    interpreter += [check.format("function BoolRaises.__bool__", null) + stack,
                    check.format("built-in function time", result) + stack.replace("cm::token", "_PyEval_EvalFrameDefault")]
    module += [check.format("function _Crypt.md5", null) + stack, check.format("built-in function time", result) + stack]
    assert [diagnosis.diagnose(r).module for r in interpreter + module] == [False] * len(interpreter) + [True] * len(module)
    assert str(diagnosis.diagnose(interpreter[0])) == ("assertion `_PyErr_Occurred(tstate)' failed in ceval.c:872, "
                                                       "while the interpreter ran Python code")
    # the type() fault of start-up is recognised by its frames in their order
    assert not diagnosis.is_the_type_fault("#0 dictresize\n#1 insertdict\n#2 PyDict_SetItem\n#3 _PyEval_EvalFrameDefault")
    assert diagnosis.is_the_type_fault("#0 dictresize\n#1 insertdict\n#2 type_ready\n#3 cm::exec_module")

