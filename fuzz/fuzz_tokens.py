"""Tokens with structured inputs: data of every JSON shape (and some that JSON refuses),
keys as text or bytes of every length, expiry times of every type, issuers; tokens cut,
re-signed under another key or algorithm, re-encoded with changed headers or claims,
expired, from another issuer, as text or bytes.

Checks: the outcome equals the reference's (the clock is fixed on both sides); the
exceptions are the documented ones (token_decrypt: TimeoutError("token已过期") or an
Exception whose text starts with "系统异常："); a token issued decodes back to its data.
"""

import base64
import json

import jwt

import harness
from fuzz_ciphers import text
from harness import CLOCK, Finding, check_call, check_token_decrypt_error, ALLOWED

KEYS = [harness.TOKEN_KEY, "short", "", b"bytes key of at least thirty-two bytes!", b"", "密钥" * 12,
        "-----BEGIN PUBLIC KEY-----\nabc\n-----END PUBLIC KEY-----", None, 5]


def data_value(fdp, depth=0):
    choice = fdp.ConsumeIntInRange(0, 11 if depth < 3 else 6)
    if choice == 0:
        return fdp.ConsumeIntInRange(-(1 << 40), 1 << 40)
    if choice == 1:
        return fdp.ConsumeUnicode(12)
    if choice == 2:
        return fdp.PickValueInList([None, True, False, 0.5, float("nan"), float("inf"), 1 << 70, ""])
    if choice == 3:
        return fdp.ConsumeFloat()
    if choice == 4:
        return fdp.PickValueInList([b"bytes", object(), {1, 2}, 3j, harness.HOSTILE[0]])
    if choice == 5:
        return harness.Text("sub")
    if choice == 6:
        return fdp.ConsumeUnicodeNoSurrogates(6)
    if choice in (7, 8):
        return [data_value(fdp, depth + 1) for _ in range(fdp.ConsumeIntInRange(0, 3))]
    if choice == 9:
        return tuple(data_value(fdp, depth + 1) for _ in range(fdp.ConsumeIntInRange(0, 3)))
    keys = [fdp.PickValueInList(["a", "data", "exp", 1, 2.5, None, True, "é", fdp.ConsumeUnicode(4)])
            for _ in range(fdp.ConsumeIntInRange(0, 3))]
    return {k: data_value(fdp, depth + 1) for k in keys}


def key(fdp):
    if fdp.ConsumeIntInRange(0, 3) == 0:
        return fdp.ConsumeUnicode(40) if fdp.ConsumeBool() else fdp.ConsumeBytes(40)
    return fdp.PickValueInList(KEYS)


def exp_time(fdp):
    return fdp.PickValueInList([86400, 600, 0, -10, -(1 << 40), 1 << 40, True, False, None, 3.5, "3600", b"1",
                                fdp.ConsumeIntInRange(-100, 100)])


def issuer(fdp):
    return fdp.PickValueInList(["Tarvex", "Shop", "", None, 5, ["Tarvex"], ("Tarvex",), harness.Text("Tarvex"),
                                fdp.ConsumeUnicode(6)])


def b64url(data):
    return base64.urlsafe_b64encode(data).rstrip(b"=").decode()


def forged(fdp):
    """A token made or changed outside the module."""
    claims = {"data": data_value(fdp), "iss": issuer(fdp)}
    if fdp.ConsumeBool():
        claims["exp"] = fdp.PickValueInList([int(CLOCK) + 600, int(CLOCK) - 600, "soon", None, 1 << 70, 1.5])
    if fdp.ConsumeIntInRange(0, 3) == 0:
        claims["nbf"] = fdp.PickValueInList([int(CLOCK) + 600, int(CLOCK) - 600])
    choice = fdp.ConsumeIntInRange(0, 5)
    try:
        if choice <= 1:
            return jwt.encode(claims, fdp.PickValueInList(KEYS[:3]),
                              algorithm=fdp.PickValueInList(["HS256", "HS256", "HS384", "HS512"]))
        if choice == 2:
            return jwt.encode(claims, None, algorithm="none")
        header = fdp.PickValueInList([{"alg": "HS256", "typ": "JWT"}, {"alg": "none"}, {"alg": "HS256", "crit": ["x"]},
                                      {}, [], "x"])
        payload = json.dumps(claims, default=str).encode() if choice == 3 else fdp.ConsumeBytes(30)
        signature = fdp.ConsumeBytes(32)
        return ".".join([b64url(json.dumps(header).encode()), b64url(payload), b64url(signature)])
    except (TypeError, ValueError, jwt.exceptions.PyJWTError):
        return fdp.ConsumeUnicode(30)


def damaged(fdp, token):
    choice = fdp.ConsumeIntInRange(0, 7)
    if not isinstance(token, str) or choice <= 2:
        return token
    if choice == 3:
        return token[:fdp.ConsumeIntInRange(0, len(token))]
    if choice == 4:
        return token.encode("utf-8", "surrogatepass")  # a text made by the fuzzer may hold surrogates
    if choice == 5:
        at = fdp.ConsumeIntInRange(0, len(token))
        return token[:at] + fdp.PickValueInList([".", "=", " ", "\n", "A", "é", "..", "\ud800"]) + token[at:]
    if choice == 6:
        head, _, rest = token.partition(".")
        return b64url(json.dumps({"alg": "HS256", "typ": "JWT", "kid": fdp.ConsumeUnicode(4)}).encode()) + "." + rest
    return fdp.PickValueInList([None, 5, bytearray(token.encode("utf-8", "surrogatepass")), harness.Text(token)])


def TestOneInput(data):
    fdp = harness.atheris.FuzzedDataProvider(data)
    via_class = fdp.ConsumeBool()
    k = key(fdp)
    iss = issuer(fdp)
    if fdp.ConsumeBool():
        value = data_value(fdp)
        args = [value, k] + ([exp_time(fdp)] if fdp.ConsumeBool() else [])
        kwargs = {"issuer": iss} if fdp.ConsumeBool() else {}
        kind, token = check_call("token", args, kwargs, allowed=ALLOWED["token"], via_class=via_class)
        if kind != "ok":
            return
        round_trip = check_call("token_decrypt", [token, k], {"issuer": kwargs.get("issuer", "Tarvex")})
        check_token_decrypt_error(round_trip)
        if round_trip[0] == "ok":
            expected = json.loads(json.dumps(value))
            if not harness.same_value(round_trip[1], expected):
                raise Finding(f"token: {value!r:.100} came back as {round_trip[1]!r:.100}")
        token = damaged(fdp, token)
    else:
        token = damaged(fdp, forged(fdp))
    got = check_call("token_decrypt", [token, k] + ([iss] if fdp.ConsumeBool() else []),
                     allowed=ALLOWED["token_decrypt"], via_class=via_class)
    check_token_decrypt_error(got)


if __name__ == "__main__":
    harness.run(TestOneInput)
