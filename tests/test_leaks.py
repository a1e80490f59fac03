"""Leak sweep: every row of the shared table (method_cases.py), each working call and
each failing one, many times over: no memory block is kept, and no reference to an
argument, a default, a module global or a package attribute that the bodies read."""

import gc
import inspect
import sys

import pytest

import crypt_main
from method_cases import CASES
from conftest import FIGURES, scaled

# A few blocks may move between two counts with the interpreter's own caches.
SLACK = 10


# What the bodies read: module globals, and attributes of what they are bound to. A
# reference taken per read and never given back does not grow the memory blocks.
READ_BY_BODIES = [
    "base64", "hashlib", "hmac", "time", "a2b_hex", "b2a_hex", "jwt", "rsa", "AES", "DES", "pad", "unpad",
    "_Crypt", "m_crypt", "AES.new", "AES.MODE_ECB", "AES.MODE_CBC", "AES.block_size", "DES.new", "DES.MODE_ECB",
    "DES.block_size", "base64.encodebytes", "base64.decodebytes", "hashlib.md5", "hashlib.sha1", "hashlib.sha256",
    "hashlib.sha384", "hashlib.sha512", "hmac.new", "rsa.newkeys", "rsa.encrypt", "rsa.decrypt", "jwt.encode",
    "jwt.decode", "jwt.exceptions", "jwt.exceptions.ExpiredSignatureError", "time.time",
]


NOT_BOUND = object()


def read_by_bodies():
    """(path, object) for READ_BY_BODIES as the module globals are bound now (a case may
    bind stand-ins, or delete one); a static method is watched with its function."""
    found = []
    for path in READ_BY_BODIES:
        first, *rest = path.split(".")
        obj = vars(crypt_main).get(first, NOT_BOUND)
        for name in rest:
            obj = inspect.getattr_static(obj, name, NOT_BOUND)
        if obj is not NOT_BOUND:
            found.append((path, obj))
        if isinstance(obj, staticmethod):
            found.append((f"{path}.__func__", obj.__func__))
    return found


@pytest.fixture(scope="module", autouse=True)
def frozen_heap():
    """What lives before the sweep is moved out of the collector's sight: each of the
    sweep's collections (over a thousand) goes over what the sweep made, not over all
    that the tests before it left alive. Neither count can miss a leak for it: a block
    kept is a block counted, and a reference kept is a reference counted."""
    gc.collect()
    gc.freeze()
    yield
    gc.unfreeze()


def refcounts(watched):
    return {label: sys.getrefcount(obj) for label, obj in watched}


def run(case, count):
    """Calls `case` `count` times (fewer in an instrumented run); every call must end
    as the case says."""
    count = scaled(count)
    call = case.call
    if case.error is None:
        for _ in range(count):
            call()
    else:
        for _ in range(count):
            try:
                call()
            except case.error:
                pass
            else:
                raise AssertionError(f"{case.id} did not fail")


@pytest.mark.parametrize("case", CASES, ids=lambda c: c.id)
def test_no_leak(case):
    defaults = case.function().__defaults__ or ()
    with case.context():
        watched = [*((f"argument {i}", arg) for i, arg in enumerate(case.args)), *case.kwargs.items(),
                   *((f"default {i}", default) for i, default in enumerate(defaults)), ("defaults", defaults),
                   *read_by_bodies()]
        if case.error is None:
            assert case.verify(case.call())
        else:
            with pytest.raises(case.error):
                case.call()
        run(case, case.count)
        gc.collect()  # garbage of earlier tests may still hold some of the watched objects
        before = refcounts(watched)
        # A leak grows every batch; caches that are still filling (PyJWT's, json's, the
        # interpreter's free lists) settle, so one of ten batches must stay flat.
        growth = []
        for _ in range(10):
            gc.collect()
            blocks = sys.getallocatedblocks()
            run(case, case.count)
            gc.collect()
            growth.append(sys.getallocatedblocks() - blocks)
            if growth[-1] <= SLACK:
                break
        assert growth[-1] <= SLACK, growth
        assert refcounts(watched) == before
    calls = (1 + len(growth)) * scaled(case.count) + 1
    FIGURES["leak sweep: calls"] += calls
    FIGURES[f"leak sweep: calls of {case.method}"] += calls
    FIGURES["leak sweep: cases"] += 1
