"""One allocation made to fail, for the allocation-failure sweeps and for the processes
they start. Imports nothing of the module: the start-up sweep loads it itself."""

import itertools

import _testcapi

# Probe allocations after the call: more than the number of allocations of one call
# varies by from one call to the next (a few dozen, with python-rsa's random numbers).
PROBES = 2_000


def with_allocation_failing(k, call):
    """Calls `call` with its k-th allocation (from 0) failing. Returns the result, the
    exception, and whether the failure was reached within the call: if not, one of the
    probe allocations after it fails instead. A call does not always make the same
    number of allocations (python-rsa draws random numbers), so the probes go on until
    the k-th allocation is reached, however few the call made. Nothing here allocates
    while the hook is set but the call and the probes."""
    result = error = None
    reached = True
    probes = itertools.repeat(None, PROBES)
    _testcapi.set_nomemory(k, k + 1)
    try:
        result = call()
    except Exception as e:
        error = e
    try:
        for _ in probes:
            bytearray(64)
    except MemoryError:
        reached = False
    finally:
        _testcapi.remove_mem_hooks()
    return result, error, reached
