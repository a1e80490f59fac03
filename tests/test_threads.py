"""Threads: eight threads calling a mix of every operation get exactly the results of
one thread; a call nested under a second thread state gets its own result; a program
ends cleanly while daemon threads are inside calls. (Calls interleaved on one thread by
greenlets: test_greenlets.py.)"""

import contextlib
import subprocess
import sys
import textwrap
import threading

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
