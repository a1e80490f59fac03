"""One allocation made to fail, for the allocation-failure sweeps and for the processes
they start. Imports nothing of the module: the start-up sweep loads it itself."""

import _testcapi


def with_allocation_failing(k, call):
    """Calls `call` with its k-th allocation (from 0) failing. Returns the result, the
    exception, and whether the failure was reached within the call: if not, a probe
    allocation after it fails instead. Nothing here allocates while the hook is set
    but the call and the probe."""
    result = error = None
    reached = True
    _testcapi.set_nomemory(k, k + 1)
    try:
        result = call()
    except Exception as e:
        error = e
    try:
        bytearray(64)
    except MemoryError:
        reached = False
    finally:
        _testcapi.remove_mem_hooks()
    return result, error, reached
