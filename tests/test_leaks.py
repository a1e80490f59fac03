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

# The interpreter's total of references, in a debug build (python3.13d) alone: the check
# of CPython's own reference-leak runs. A reference that a call takes and never gives
# back shows there even where no block is kept (a reference to an object that lives on).
TOTAL_REFS = getattr(sys, "gettotalrefcount", None)
REF_CALLS = 10  # calls per run: a reference kept per call moves the total by 10 or more
REF_RUNS = 3  # runs, each of which must leave the total as it was


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


# (3.15 deprecates the older name; 3.11 and 3.12 have only that)
clear_type_cache = getattr(sys, "_clear_internal_caches", None) or sys._clear_type_cache


def total_refs_delta(call):
    """How much sys.gettotalrefcount() moves over `call()`. As CPython's reference-leak
    runs do, the garbage is collected and the interpreter's type attribute cache emptied
    before each reading: the cache holds a reference to each name it remembers, and the
    names it holds change with what ran last (the token rows' totals moved by up to a
    few dozen references from run to run while it was kept)."""
    gc.collect()
    clear_type_cache()
    before = TOTAL_REFS()
    call()
    gc.collect()
    clear_type_cache()
    return TOTAL_REFS() - before


def total_refs_deltas(case):
    """The moves of the total of references over REF_RUNS runs of REF_CALLS calls each,
    after the warm-up, less what the reading itself adds (measured the same way around
    a call that does nothing)."""
    reading = [total_refs_delta(lambda: None) for _ in range(2)][-1]
    return [total_refs_delta(lambda: run(case, REF_CALLS)) - reading for _ in range(REF_RUNS)]


def shared(obj):
    """None, True, False and the small ints (a mode, a block size) are shared by all code:
    immortal from 3.12, and before that their counts move with anything that runs."""
    return obj is None or type(obj) is bool or (type(obj) is int and -5 <= obj <= 256)


def refcounts(watched):
    return {label: sys.getrefcount(obj) for label, obj in watched if not shared(obj)}


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
        deltas = []
        if TOTAL_REFS:
            deltas = total_refs_deltas(case)
            assert deltas == [0] * REF_RUNS, f"the total of references moved by {deltas} over runs of {REF_CALLS} calls"
            FIGURES["leak sweep: cases whose runs leave the total of references flat (debug build)"] += 1
    calls = (1 + len(growth)) * scaled(case.count) + 1 + len(deltas) * scaled(REF_CALLS)
    FIGURES["leak sweep: calls"] += calls
    FIGURES[f"leak sweep: calls of {case.method}"] += calls
    FIGURES["leak sweep: cases"] += 1
