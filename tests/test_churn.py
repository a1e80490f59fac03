"""Churn: threads call the methods while other threads rebind the module globals that
the bodies read, each time to a new object (so the one before goes away at once),
replace their callees, and grow and shrink the module's namespace; the callers' failures
are read back from their traceback entries. Every result is right, every failure is
reported at its line, and no answer outlives its binding. Without the GIL (a free-threaded
CPython) all of it runs at once; with it, the threads switch as often as they can."""

import base64
import binascii
import contextlib
import functools
import hashlib
import itertools
import sys
import threading
import time
import types

import crypt_main
from Crypto.Cipher import AES
from Crypto.Util.Padding import pad
from conftest import FIGURES, crypt_entries, module_global, scaled
from method_cases import KEY16, TEXT, TOKEN_KEY

m = crypt_main.m_crypt
CALLERS = 4
CALLS = scaled(3000, 30)


def copy_of(module):
    """A new module object with the same names, for the old binding to go away."""
    fresh = types.ModuleType(module.__name__)
    fresh.__dict__.update(vars(module))
    return fresh


NOW = float(int(time.time()))  # tokens made at a fixed time, which has not expired


def clock():
    fresh = types.ModuleType("time")
    fresh.time = lambda: NOW
    return fresh


# module global -> a new object that the bodies use as they use the old one
REBINDINGS = {
    "hashlib": lambda: copy_of(hashlib),
    "base64": lambda: copy_of(base64),
    "AES": lambda: copy_of(AES),
    "pad": lambda: functools.partial(pad),  # a replaced callee
    "time": clock,
}

TOKEN = None  # made with the clock fixed (below)


def calls():
    """(call, expected outcome): working calls, and failures with their entries."""
    ciphertext = m.aes_ecb(TEXT, KEY16)
    return [
        (lambda: m.md5(TEXT, "lower"), hashlib.md5(TEXT.encode()).hexdigest()),
        (lambda: m.sha256(TEXT, "upper"), hashlib.sha256(TEXT.encode()).hexdigest().upper()),
        (lambda: m.base64(TEXT), base64.b64encode(TEXT.encode()).decode()),
        (lambda: m.aes_ecb(TEXT, KEY16), ciphertext),
        (lambda: m.aes_ecb_decrypt(ciphertext, KEY16), TEXT),
        (lambda: m.token(TEXT, TOKEN_KEY), TOKEN),
        (lambda: m.token_decrypt(TOKEN, TOKEN_KEY), TEXT),
        (lambda: m.aes_ecb(1, KEY16), (AttributeError, [("crypt_main._Crypt.aes_ecb", 63)])),
        (lambda: m.md5(1.5, "lower"), (AttributeError, [("crypt_main._Crypt.md5", 115)])),
        (lambda: m.base64_decrypt("abc"), (binascii.Error, [("crypt_main._Crypt.base64_decrypt", 93)])),
        (lambda: m.aes_ecb_decrypt(b"x" * 16, KEY16), (ValueError, [("crypt_main._Crypt.aes_ecb_decrypt", 70)])),
    ]


def outcome(call):
    try:
        return call()
    except Exception as e:
        return type(e), crypt_entries(e)


@contextlib.contextmanager
def threads_switching_often():
    interval = sys.getswitchinterval()
    sys.setswitchinterval(1e-5)
    try:
        yield
    finally:
        sys.setswitchinterval(interval)


def run_beside(workers, churners):
    """Runs every worker and, until they are done, every churner, all started together."""
    done = threading.Event()
    start = threading.Barrier(len(workers) + len(churners))

    def churn(step):
        start.wait()
        for i in itertools.count():
            if done.is_set():
                return
            step(i)

    def work(worker):
        start.wait()
        worker()

    threads = [threading.Thread(target=churn, args=(c,)) for c in churners]
    threads += [threading.Thread(target=work, args=(w,)) for w in workers]
    with threads_switching_often():
        for t in threads[len(churners):]:
            t.start()
        for t in threads[:len(churners)]:
            t.start()
        for t in threads[len(churners):]:
            t.join()
        done.set()
        for t in threads[:len(churners)]:
            t.join()


def test_calls_stay_exact_while_globals_and_callees_change():
    global TOKEN
    with contextlib.ExitStack() as stack:
        for name in REBINDINGS:  # each put back at the end
            stack.enter_context(module_global(name, crypt_main.__dict__[name]))
        crypt_main.time = clock()
        TOKEN = m.token(TEXT, TOKEN_KEY)
        crypt_main.pad = REBINDINGS["pad"]()
        cases = calls()
        assert [outcome(call) for call, _ in cases] == [expected for _, expected in cases]
        wrong = []

        def caller(offset):
            def run():
                for i in range(CALLS):
                    call, expected = cases[(i * 7 + offset) % len(cases)]
                    got = outcome(call)
                    if got != expected:
                        wrong.append((got, expected))
            return run

        def rebind(i):
            name = list(REBINDINGS)[i % len(REBINDINGS)]
            setattr(crypt_main, name, REBINDINGS[name]())

        def grow_and_shrink(i):  # the namespace's table is made again now and then
            names = [f"_churn_{i}_{k}" for k in range(20)]
            for name in names:
                crypt_main.__dict__[name] = i
            for name in names:
                del crypt_main.__dict__[name]

        run_beside([caller(n * 3) for n in range(CALLERS)], [rebind, grow_and_shrink])
    assert wrong == []
    FIGURES["churn: calls"] += CALLERS * CALLS


def test_no_answer_outlives_its_binding():
    """`hashlib` is rebound again and again, its md5 in turn md5, sha1 and sha256; after
    each binding k the generation k is published. A call that began and ended within one
    generation k saw binding k or k + 1 (bound, not yet published)."""
    algorithms = ["md5", "sha1", "sha256"]
    modules = []
    for name in algorithms:
        module = types.ModuleType("hashlib")
        module.md5 = getattr(hashlib, name)
        modules.append(module)
    digests = [hashlib.new(name, TEXT.encode()).hexdigest() for name in algorithms]
    generation = [0]
    stale = []
    checked = [0]

    def caller():
        for _ in range(CALLS):
            before = generation[0]
            digest = m.md5(TEXT, "lower")
            if generation[0] == before:
                checked[0] += 1
                if digest not in (digests[before % 3], digests[(before + 1) % 3]):
                    stale.append((before, digest))

    def rebind(i):
        k = generation[0] + 1
        crypt_main.hashlib = copy_of(modules[k % 3])  # a new object each time
        generation[0] = k

    with module_global("hashlib", copy_of(modules[0])):
        run_beside([caller] * CALLERS, [rebind])
    assert stale == []
    assert checked[0] > 0
    FIGURES["churn: calls checked against their binding"] += checked[0]
