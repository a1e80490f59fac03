"""Base64, the hex digests and HMAC-MD5 with structured inputs: texts of every kind,
Base64 with stray characters, cut groups, wrong padding and bytes that are not UTF-8,
`fmt` in every spelling, messages and keys as text or bytes.

Checks: the outcome equals the reference's; the exception types are the documented ones;
base64_decrypt gives back what base64 made.
"""

import base64

import harness
from fuzz_ciphers import text, stray_base64
from harness import Finding, check_call, ALLOWED

DIGESTS = ["md5", "sha1", "sha256", "sha384", "sha512"]
FORMATS = ["upper", "lower", "UPPER", "Lower", " upper", "lower ", "", None, 0, b"upper", harness.Text("upper"),
           harness.EqAll("x"), harness.EqNone("upper")]


def message(fdp):
    choice = fdp.ConsumeIntInRange(0, 4)
    if choice == 0:
        return fdp.ConsumeBytes(fdp.ConsumeIntInRange(0, 80))
    if choice == 1:
        return harness.Bytes(fdp.ConsumeBytes(20))
    if choice == 2:
        return fdp.PickValueInList([bytearray(b"abc"), memoryview(b"abc"), None, 5, harness.HUGE_TEXT.encode()])
    return text(fdp)


def base64_text(fdp):
    choice = fdp.ConsumeIntInRange(0, 4)
    raw = fdp.ConsumeBytes(fdp.ConsumeIntInRange(0, 60))
    if choice == 0:
        return stray_base64(fdp, base64.b64encode(raw).decode())
    if choice == 1:
        encoded = base64.b64encode(raw).decode()
        return encoded[:fdp.ConsumeIntInRange(0, len(encoded))]
    if choice == 2:
        return base64.encodebytes(raw).decode()  # with its line breaks
    if choice == 3:
        return fdp.PickValueInList([base64.urlsafe_b64encode(raw).decode(), base64.b64encode(raw),
                                    harness.Text(base64.b64encode(raw).decode())])
    return text(fdp)


def TestOneInput(data):
    fdp = harness.atheris.FuzzedDataProvider(data)
    method = fdp.PickValueInList(["base64", "base64_decrypt", "md5_hmac"] + DIGESTS)
    via_class = fdp.ConsumeBool()
    if method == "base64":
        value = text(fdp)
        kind, encoded = check_call("base64", [value], allowed=ALLOWED["base64"], via_class=via_class)
        if kind == "ok":
            back = check_call("base64_decrypt", [encoded], allowed=ALLOWED["base64_decrypt"])
            if back != ("ok", value) or "\n" in encoded:
                raise Finding(f"base64: {value!r:.100} gave {encoded!r:.100}, back {back!r:.100}")
    elif method == "base64_decrypt":
        check_call("base64_decrypt", [base64_text(fdp)], allowed=ALLOWED["base64_decrypt"], via_class=via_class)
    elif method == "md5_hmac":
        check_call("md5_hmac", [message(fdp), message(fdp)], allowed=ALLOWED["md5_hmac"], via_class=via_class)
    else:
        fmt = fdp.PickValueInList(FORMATS) if fdp.ConsumeBool() else fdp.ConsumeUnicode(8)
        check_call(method, [message(fdp), fmt], allowed=ALLOWED[method], via_class=via_class)


if __name__ == "__main__":
    harness.run(TestOneInput)
