"""Threads: eight threads calling a mix of every operation get exactly the results of
one thread; a call nested under a second thread state gets its own result; a program
ends cleanly while daemon threads are inside calls. (Calls interleaved on one thread by
greenlets: test_greenlets.py.)"""

import contextlib
import subprocess
import sys
import textwrap
import threading
import types

import pytest

import misbehaving
from method_cases import CASES, FAKE_RSA, FixedClock, PRI, PUB, TEXT
from conftest import FIGURES, hexdigest, module_global, raises_at, scaled
from crypt_main import m_crypt

THREADS = 8
CALLS = scaled(10_000, 10)
# bound for the whole run: a fixed clock makes tokens repeatable; rsa_keys hands out one small pair
GLOBALS = {"time": FixedClock, "rsa": FAKE_RSA}


def outcome(call):
    try:
        return "result", call()
    except Exception as e:  # failures must be the same too
        return type(e), str(e)


def operations():
    """Deterministic calls: every row that stands for its class and needs no module
    globals but those of GLOBALS, and RSA encryption checked by its round trip."""
    ops = [case.call for case in CASES if case.swept and case.check is None and case.globals.items() <= GLOBALS.items()]
    ops.append(lambda: m_crypt.rsa_decrypt(m_crypt.rsa(TEXT, PUB, True), PRI, True))
    ops.append(lambda: m_crypt.rsa_decrypt(m_crypt.rsa(TEXT, PUB), PRI))
    return ops


def test_threads_see_the_single_threaded_results():
    with contextlib.ExitStack() as stack:
        for name, value in GLOBALS.items():
            stack.enter_context(module_global(name, value))
        ops = operations()
        expected = [outcome(op) for op in ops]
        assert ("result", TEXT) in expected
        start = threading.Barrier(THREADS)
        mismatches = []

        def worker(offset):
            start.wait()
            for i in range(CALLS):
                k = (i * 7 + offset) % len(ops)
                got = outcome(ops[k])
                if got != expected[k]:
                    mismatches.append((k, got, expected[k]))

        interval = sys.getswitchinterval()
        sys.setswitchinterval(1e-5)  # switch threads often
        try:
            threads = [threading.Thread(target=worker, args=(n * 13,)) for n in range(THREADS)]
            for t in threads:
                t.start()
            for t in threads:
                t.join()
        finally:
            sys.setswitchinterval(interval)
    assert mismatches == []
    FIGURES["threads: calls"] += THREADS * CALLS


# ---- a call nested under another thread state ------------------------------------

def test_a_method_called_under_another_thread_state_inside_a_call():
    helpers = misbehaving.load()
    inner = []

    class CallsInside(str):
        def encode(self, *args, **kwargs):
            inner.append(helpers.call_under_new_thread_state(m_crypt.md5, "inner", "lower"))
            inner.append(raises_at(AttributeError, lambda: helpers.call_under_new_thread_state(m_crypt.md5, 1, "x"),
                                   ("md5", 115)))
            return str.encode(self, *args, **kwargs)

    assert m_crypt.sha256(CallsInside("outer"), "lower") == hexdigest("sha256", "outer")
    assert inner[0] == hexdigest("md5", "inner")
    raises_at(AttributeError, lambda: m_crypt.sha256(1, "lower"), ("sha256", 199))


def hashlib_of(md5, sha1=None):
    """A module standing in for hashlib, with the given constructors (called through the
    module, the path whose results the module checks at once)."""
    module = types.ModuleType("hashlib")
    module.md5, module.sha1 = md5, sha1
    return module


def test_a_result_with_an_exception_set_under_another_thread_state_inside_a_call():
    # md5's value runs sha1 under a second thread state; the update of each leaves an
    # exception set. Each call checks the thread state it runs under: not one that the
    # call around it found, nor one that an inner call left.
    helpers = misbehaving.load()
    digest = lambda: types.SimpleNamespace(update=helpers.update, hexdigest=lambda: "digest")  # noqa: E731
    inner = []

    class CallsInside(str):
        def encode(self, *args, **kwargs):
            inner.append(raises_at(SystemError, lambda: helpers.call_under_new_thread_state(m_crypt.sha1, "x", "lower"),
                                   ("sha1", 186)))
            return str.encode(self, *args, **kwargs)

    with module_global("hashlib", hashlib_of(digest, digest)):
        outer = raises_at(SystemError, lambda: m_crypt.md5(CallsInside("outer"), "lower"), ("md5", 115))
    assert [str(e) for e in inner + [outer]] == [f"{helpers.update!r} returned a result with an exception set"] * 2


def test_a_thread_checks_its_own_thread_state_while_another_is_inside_a_call():
    # The other thread's call checks a result between two steps of this thread's call,
    # which then meets a callee that leaves an exception set.
    helpers = misbehaving.load()
    inside, resume, checked, done = (threading.Event() for _ in range(4))

    class Waits(str):  # the other thread's value: its call waits at the update
        def encode(self, *args, **kwargs):
            inside.set()
            resume.wait(60)
            return str.encode(self, *args, **kwargs)

    class Holds:  # the other thread's fmt, compared after its results were checked
        def __eq__(self, other):
            checked.set()
            done.wait(60)
            return False

    def this_threads_digest():
        resume.set()
        assert checked.wait(60)
        return types.SimpleNamespace(update=helpers.update, hexdigest=lambda: "digest")

    def other_threads_digest():
        return types.SimpleNamespace(update=lambda data: None, hexdigest=lambda: "the other's digest")

    this_thread = threading.get_ident()
    digests = {True: this_threads_digest, False: other_threads_digest}
    stand_in = hashlib_of(lambda: digests[threading.get_ident() == this_thread]())
    other = []
    with module_global("hashlib", stand_in):
        thread = threading.Thread(target=lambda: other.append(m_crypt.md5(Waits("other"), Holds())))
        thread.start()
        try:
            assert inside.wait(60)
            error = raises_at(SystemError, lambda: m_crypt.md5("abc", "lower"), ("md5", 115))
        finally:
            resume.set()
            done.set()
            thread.join()
    assert str(error) == f"{helpers.update!r} returned a result with an exception set"
    assert other == ["the other's digest"]


# ---- daemon threads inside calls when the program ends -------------------------------
# CPython 3.11 to 3.13 end a daemon thread that wants the interpreter back during
# shutdown with pthread_exit, which unwinds the thread's stack through the call; later
# versions park the thread. Either way the program ends as a pure-Python caller's does.

# calls whose callees release the interpreter (PyCryptodome's C parts) over and over
BUSY = """
    import threading, time, crypt_main
    m, started = crypt_main.m_crypt, threading.Barrier(5)
    def loop(call):
        started.wait()
        while True:
            call()
    for call in [lambda: m.aes_ecb("x" * 100000, "0123456789abcdef"), lambda: m.md5("x" * 100000, "lower")] * 2:
        threading.Thread(target=loop, args=(call,), daemon=True).start()
    started.wait()
    time.sleep(0.05)
"""

DAEMONS_AT_EXIT = {
    # the body's callee sleeps, so the call is under way when the program ends
    "callee-sleeps": """
        import threading, time, crypt_main
        m, real_pad, inside = crypt_main.m_crypt, crypt_main.pad, threading.Event()
        def slow_pad(data, size):
            inside.set()
            for _ in range(200):
                time.sleep(0.005)
            return real_pad(data, size)
        crypt_main.pad = slow_pad
        threading.Thread(target=lambda: m.aes_ecb("abc", "0123456789abcdef"), daemon=True).start()
        inside.wait()
    """,
    "busy-calls": BUSY,
    # the same, while the interpreter's shutdown lets them run: a finaliser that sleeps
    "slow-finaliser": BUSY + """
    class SlowToGo:
        def __del__(self, sleep=time.sleep):  # (module globals may be gone by then)
            sleep(0.2)
    kept = SlowToGo()
    """,
}


@pytest.mark.parametrize("script", DAEMONS_AT_EXIT.values(), ids=DAEMONS_AT_EXIT)
def test_the_program_ends_cleanly_while_daemon_threads_are_inside_calls(script):
    result = subprocess.run([sys.executable, "-c", textwrap.dedent(script)], capture_output=True, text=True,
                            timeout=120)
    assert (result.returncode, result.stderr) == (0, "")
