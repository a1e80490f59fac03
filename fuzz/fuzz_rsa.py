"""RSA with structured inputs: key sizes asked for with every kind of length, plaintexts
of every length around the block limit, ciphertexts of every length, damaged ones, ones
made under the other key, and hex digits in either case, odd in length or with stray
characters, as text or bytes.

Checks: the outcome equals the reference's (python-rsa's padding is made repeatable for
the run, so ciphertexts compare byte for byte); the exception types are the documented
ones; rsa_keys asks for the same key size; what rsa gives decrypts back to the text.
"""

import rsa as rsa_package

import harness
from fuzz_ciphers import text
from harness import FAKE_RSA, PUB, PRI, Finding, check_call, ALLOWED

OTHER_PUB, OTHER_PRI = rsa_package.newkeys(576)


def length(fdp):
    choice = fdp.ConsumeIntInRange(0, 3)
    if choice == 0:
        return fdp.ConsumeIntInRange(-20, 600)
    if choice == 1:
        return fdp.PickValueInList([52, 53, 54, 116, 117, 118, 245, 246, 247, 2048, True, False, 1 << 80, -(1 << 80)])
    if choice == 2:
        return fdp.PickValueInList([53.5, float("nan"), float("inf"), "16", None, b"1", [1], 3j])
    return fdp.ConsumeInt(4)


def hex_form(fdp, raw):
    digits = raw.hex()
    choice = fdp.ConsumeIntInRange(0, 6)
    if choice == 1:
        digits = digits.upper()
    elif choice == 2:
        digits = "".join(c.upper() if fdp.ConsumeBool() else c for c in digits)
    elif choice == 3 and digits:
        digits = digits[:-1]
    elif choice == 4:
        at = fdp.ConsumeIntInRange(0, len(digits))
        digits = digits[:at] + fdp.PickValueInList(["g", " ", "\n", "é", "0x", "-"]) + digits[at:]
    elif choice == 5:
        return digits.encode()
    elif choice == 6:
        return bytearray(digits.encode())
    return digits


def ciphertext(fdp, plain):
    choice = fdp.ConsumeIntInRange(0, 6)
    if choice <= 1 and isinstance(plain, str) and "\ud800" not in plain:
        try:
            return rsa_package.encrypt(plain.encode(), fdp.PickValueInList([PUB, OTHER_PUB]))
        except (OverflowError, UnicodeEncodeError):
            pass
    if choice == 2:
        raw = bytearray(harness.CT_RSA)
        raw[fdp.ConsumeIntInRange(0, len(raw) - 1)] ^= 1 << fdp.ConsumeIntInRange(0, 7)
        return bytes(raw)
    if choice == 3:
        return harness.CT_RSA[:fdp.ConsumeIntInRange(0, len(harness.CT_RSA))]
    if choice == 4:
        return rsa_package.encrypt(fdp.ConsumeBytes(fdp.ConsumeIntInRange(0, 53)), PUB)  # not always UTF-8
    return fdp.ConsumeBytes(fdp.ConsumeIntInRange(0, 130))


def flag(fdp):
    return fdp.PickValueInList([False, True, 0, 1, "", "hex", None])


def TestOneInput(data):
    fdp = harness.atheris.FuzzedDataProvider(data)
    method = fdp.PickValueInList(["rsa_keys", "rsa", "rsa_decrypt"])
    via_class = fdp.ConsumeBool()
    if method == "rsa_keys":
        asked = len(FAKE_RSA.asked)
        n = length(fdp)
        kind, _ = check_call("rsa_keys", [n] if fdp.ConsumeIntInRange(0, 4) else [], allowed=ALLOWED["rsa_keys"],
                             via_class=via_class)
        sizes = FAKE_RSA.asked[asked:]
        del FAKE_RSA.asked[asked:]
        if kind == "ok" and (len(sizes) != 2 or sizes[0] != sizes[1] or type(sizes[0]) is not int):
            raise Finding(f"rsa_keys({n!r}) asked for {sizes}")
        return
    plain = text(fdp, 70)
    hexs = flag(fdp)
    key = fdp.PickValueInList([PUB, PUB, PUB, OTHER_PUB, PRI, "key", None])
    if method == "rsa":
        kind, result = check_call("rsa", [plain, key, hexs], allowed=ALLOWED["rsa"], via_class=via_class)
        if kind == "ok" and key is PUB:
            raw = bytes.fromhex(result.decode()) if hexs else result
            if rsa_package.decrypt(raw, PRI).decode() != plain:
                raise Finding(f"rsa: {plain!r:.100} does not come back")
        return
    raw = ciphertext(fdp, plain)
    value = hex_form(fdp, raw) if hexs else raw
    if not hexs and fdp.ConsumeIntInRange(0, 5) == 0:
        value = fdp.PickValueInList([bytearray(raw), memoryview(raw), raw.hex(), harness.Bytes(raw)])
    pri = fdp.PickValueInList([PRI, PRI, OTHER_PRI, PUB, "key"])
    check_call("rsa_decrypt", [value, pri, hexs], allowed=ALLOWED["rsa_decrypt"], via_class=via_class)


if __name__ == "__main__":
    harness.run(TestOneInput)
