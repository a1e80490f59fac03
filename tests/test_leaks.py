"""Leak sweep: every method, on its working path and on each way it fails, many times
over: no memory block and no reference to an argument or a default is kept."""

import gc
import sys

import pytest

from method_cases import CASES
from conftest import FIGURES, scaled

# A few blocks may move between two counts with the interpreter's own caches.
SLACK = 10


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
    watched = [*case.args, *case.kwargs.values(), *defaults, defaults]
    with case.context():
        if case.error is None:
            assert case.verify(case.call())
        else:
            with pytest.raises(case.error):
                case.call()
        run(case, case.count)
        gc.collect()  # garbage of earlier tests may still hold some of the watched objects
        refcounts = [sys.getrefcount(obj) for obj in watched]
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
        assert [sys.getrefcount(obj) for obj in watched] == refcounts
    calls = (1 + len(growth)) * scaled(case.count) + 1
    FIGURES["leak sweep: calls"] += calls
    FIGURES[f"leak sweep: calls of {case.method}"] += calls
    FIGURES["leak sweep: cases"] += 1
