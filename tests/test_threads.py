"""Threads: eight threads calling a mix of every operation get exactly the results of
one thread."""

import contextlib
import sys
import threading

from method_cases import CASES, FAKE_RSA, FixedClock, PRI, PUB, TEXT
from conftest import FIGURES, module_global, scaled
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
