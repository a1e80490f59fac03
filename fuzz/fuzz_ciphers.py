"""The ciphers with structured inputs: AES-ECB, AES-CBC, the PHP-compatible AES and DES,
with keys and IVs of every length (in ASCII, in multi-byte characters, with characters
that the encoding refuses), texts of every kind, valid ciphertexts and corrupted ones
(cut, lengthened, bits flipped, in another form), and Base64 with stray characters.

Checks: the outcome equals the reference's; the exception types are the documented ones;
what an encryption gives decrypts back to the text.
"""

import base64

import harness
from harness import Finding, check_call, ALLOWED

PIECES = ["a", "Z", "0", "é", "世", "密", "\U0001F600", "\ud800", "\x00", " ", "\n", "€"]


def text(fdp, limit=48):
    """A text: fuzzer-made, or built of pieces chosen for their encodings."""
    choice = fdp.ConsumeIntInRange(0, 5)
    if choice == 0:
        return fdp.ConsumeUnicode(limit)
    if choice == 1:
        return fdp.ConsumeUnicodeNoSurrogates(limit)
    if choice == 2:
        return "".join(fdp.PickValueInList(PIECES) for _ in range(fdp.ConsumeIntInRange(0, limit)))
    if choice == 3:
        return "x" * fdp.ConsumeIntInRange(0, 70)
    if choice == 4:
        return harness.Text(fdp.ConsumeUnicodeNoSurrogates(limit))
    return fdp.PickValueInList([harness.TEXT, "", harness.HUGE_TEXT, "密钥" * 8, "\x00" * 3])


def key(fdp, sizes):
    """A key or IV: mostly of an accepted byte length, in one- or multi-byte characters."""
    choice = fdp.ConsumeIntInRange(0, 6)
    if choice <= 2:
        size = fdp.PickValueInList(sizes)
        if choice == 2 and size % 3 == 0:
            return "密" * (size // 3)  # three UTF-8 bytes, two GBK bytes each
        return "".join(chr(0x21 + fdp.ConsumeIntInRange(0, 93)) for _ in range(size))
    if choice == 3:
        return "k" * fdp.ConsumeIntInRange(0, 40)
    if choice == 4:
        return text(fdp, 40)
    if choice == 5:
        return fdp.PickValueInList([b"0123456789abcdef", bytearray(b"01234567"), None, 16, harness.Text("8bytekey"),
                                    "0123456789abcde\ud800"])
    return fdp.ConsumeUnicode(40)


def corrupt(fdp, data):
    """The ciphertext as it is, or damaged, or in another form."""
    choice = fdp.ConsumeIntInRange(0, 9)
    if choice <= 2 or not isinstance(data, (bytes, str)):
        return data
    if choice == 3 and data:
        return data[:fdp.ConsumeIntInRange(0, len(data) - 1)]
    if choice == 4:
        return data + (fdp.ConsumeBytes(17) if isinstance(data, bytes) else fdp.ConsumeUnicode(5))
    if choice == 5 and data and isinstance(data, bytes):
        at = fdp.ConsumeIntInRange(0, len(data) - 1)
        return data[:at] + bytes([data[at] ^ (1 << fdp.ConsumeIntInRange(0, 7))]) + data[at + 1:]
    if choice == 6 and isinstance(data, bytes):
        return fdp.PickValueInList([bytearray, memoryview, lambda d: d.hex(), lambda d: base64.b64encode(d).decode(),
                                    lambda d: harness.Bytes(d)])(data)
    if choice == 7:
        return fdp.ConsumeBytes(fdp.ConsumeIntInRange(0, 64))
    if choice == 8 and data:
        # the last block replaced, or blocks swapped
        return data[len(data) // 2:] + data[:len(data) // 2]
    return data[:0]


def stray_base64(fdp, encoded):
    """Base64 text with stray characters put in, padding removed or added."""
    encoded = list(encoded)
    for _ in range(fdp.ConsumeIntInRange(0, 4)):
        at = fdp.ConsumeIntInRange(0, len(encoded))
        encoded.insert(at, fdp.PickValueInList(["\n", " ", "=", "==", "\r\n", "*", "-", "_", "é", "\t", "\x00", "A"]))
    result = "".join(encoded)
    if fdp.ConsumeBool():
        result = result.rstrip("=")
    return result


def flag(fdp):
    return fdp.PickValueInList([False, True, 0, 1, "", "x", None, [], [0]])


ENCRYPTIONS = {
    "aes_ecb": ("aes_ecb_decrypt", [16, 24, 32], None),
    "aes_cbc": ("aes_cbc_decrypt", [16, 24, 32], [16]),
    "des": ("des_decrypt", [8], None),
    "php": ("php_decrypt", [1, 5, 16, 17, 31, 32], [16]),
}


SAMPLES = {"aes_ecb": harness.CT_ECB, "aes_cbc": harness.CT_CBC, "des": harness.CT_DES, "php": harness.CT_PHP}


def TestOneInput(data):
    fdp = harness.atheris.FuzzedDataProvider(data)
    method = fdp.PickValueInList(list(ENCRYPTIONS) + ["_add_to_16"])
    if method == "_add_to_16":
        value = text(fdp)
        check_call("_add_to_16", [value], allowed=ALLOWED["_add_to_16"], via_class=fdp.ConsumeBool())
        return
    inverse, key_sizes, iv_sizes = ENCRYPTIONS[method]
    k = key(fdp, key_sizes)
    extra = [key(fdp, iv_sizes)] if iv_sizes else []
    base64s = [flag(fdp)] if method == "php" else []
    plain = text(fdp)

    kind, encrypted = check_call(method, [plain, k, *extra, *base64s], allowed=ALLOWED[method])
    if kind == "ok":
        opened = check_call(inverse, [encrypted, k, *extra, *base64s], allowed=ALLOWED[inverse])
        want = plain.rstrip("\x00") if method == "php" else plain
        if opened != ("ok", want) or type(opened[1]) is not str:
            raise Finding(f"{method}: {plain!r:.100} does not come back: {opened!r:.200}")
    else:
        # a ciphertext of the family made under another key, or bytes of the fuzzer's
        encrypted = SAMPLES[method] if fdp.ConsumeBool() else fdp.ConsumeBytes(fdp.ConsumeIntInRange(0, 48))

    damaged = corrupt(fdp, encrypted)
    if method == "php" and isinstance(damaged, str) and fdp.ConsumeBool():
        damaged = stray_base64(fdp, damaged)
    check_call(inverse, [damaged, k, *extra, *base64s], allowed=ALLOWED[inverse], via_class=fdp.ConsumeBool()
               if method != "php" else False)


if __name__ == "__main__":
    harness.run(TestOneInput)
