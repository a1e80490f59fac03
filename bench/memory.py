"""Peak memory of one call on 1 MiB of text: the module against the pure-Python class.

    python bench/memory.py

tracemalloc traces what the interpreter allocates (every object a call makes or keeps
alive); the figure is the highest traced memory during the call above what was traced
before it, in MiB. The inputs are made before the measurement.
"""

import gc
import os
import sys
import tracemalloc

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

import cases  # noqa: E402
import crypt_main  # noqa: E402
import pure_crypt  # noqa: E402

MIB = 1 << 20
TEXT = "a" * MIB


def inputs():
    """(label, method, args) for every operation whose cost grows with its input."""
    p = pure_crypt.m_crypt
    key, iv, key8, php_key = cases.KEY16, cases.IV16, cases.KEY8, cases.PHP_KEY
    return [
        ("aes_ecb", "aes_ecb", (TEXT, key)),
        ("aes_ecb_decrypt", "aes_ecb_decrypt", (p.aes_ecb(TEXT, key), key)),
        ("aes_cbc", "aes_cbc", (TEXT, key, iv)),
        ("aes_cbc_decrypt", "aes_cbc_decrypt", (p.aes_cbc(TEXT, key, iv), key, iv)),
        ("des", "des", (TEXT, key8)),
        ("des_decrypt", "des_decrypt", (p.des(TEXT, key8), key8)),
        ("base64", "base64", (TEXT,)),
        ("base64_decrypt", "base64_decrypt", (p.base64(TEXT),)),
        ("md5", "md5", (TEXT, "upper")),
        ("sha256", "sha256", (TEXT, "upper")),
        ("md5_hmac", "md5_hmac", (TEXT, cases.HMAC_KEY)),
        ("_add_to_16", "_add_to_16", (TEXT + "a",)),
        ("php", "php", (TEXT, php_key, iv)),
        ("php, base64s", "php", (TEXT, php_key, iv, True)),
        ("php_decrypt", "php_decrypt", (p.php(TEXT, php_key, iv), php_key, iv)),
        ("php_decrypt, base64s", "php_decrypt", (p.php(TEXT, php_key, iv, True), php_key, iv, True)),
    ]


def peak(function, args):
    """MiB traced at the highest point of one call, above what was traced before it."""
    function(*args)  # caches and free lists warm
    gc.collect()
    tracemalloc.start()
    try:
        before = tracemalloc.get_traced_memory()[0]
        tracemalloc.reset_peak()
        result = function(*args)
        top = tracemalloc.get_traced_memory()[1]
        del result
    finally:
        tracemalloc.stop()
    return (top - before) / MIB


def measure():
    rows = []
    for label, method, args in inputs():
        module = peak(getattr(crypt_main.m_crypt, method), args)
        pure = peak(getattr(pure_crypt.m_crypt, method), args)
        rows.append((label, module, pure))
    return rows


def markdown(rows):
    lines = ["| operation (1 MiB of text) | module MiB | pure-Python MiB | module/pure |", "|---|---:|---:|---:|"]
    lines += [f"| {label} | {module:.2f} | {pure:.2f} | {module / pure:.2f} |" for label, module, pure in rows]
    return "\n".join(lines)


if __name__ == "__main__":
    print(markdown(measure()))
