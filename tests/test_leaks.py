"""Leak sweep: every method, on its working path and on each way it fails, many times
over: no memory block and no reference to an argument or a default is kept."""

import gc
import sys

import pytest

from cases import CASES
from conftest import FIGURES

# The interpreter's own caches (free lists, the traceback code objects made on first
# use, which the warm-up makes) may move a few blocks between the two counts.
SLACK = 10
WARMUP = 50


def run(case, count):
    """Calls `case` `count` times; every call must end as the case says."""
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
        run(case, WARMUP)
        gc.collect()
        blocks = sys.getallocatedblocks()
        refcounts = [sys.getrefcount(obj) for obj in watched]
        run(case, case.count)
        gc.collect()
        assert sys.getallocatedblocks() - blocks <= SLACK
        assert [sys.getrefcount(obj) for obj in watched] == refcounts
    FIGURES["leak sweep: calls"] += case.count + WARMUP + 1
    FIGURES["leak sweep: cases"] += 1
