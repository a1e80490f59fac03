"""python-jose as a third peer of the tokens, next to jwcrypto and joserfc
(test_token_peers.py). Here the peer also checks the claims it is told to: the expiry
and the issuer of tokens made by `token`, with str and bytes keys."""

import time

import pytest
from jose import jwt as jose_jwt
from jose.exceptions import ExpiredSignatureError, JWTClaimsError, JWTError

from conftest import m

KEY = "a shared secret of more than thirty-two bytes, for HS256"


def verify(token, key, issuer="Tarvex"):
    return jose_jwt.decode(token, key, algorithms=["HS256"], issuer=issuer,
                           options={"require_iat": True, "require_exp": True, "require_iss": True})


@pytest.mark.parametrize("key", [KEY, KEY.encode()], ids=["str-key", "bytes-key"])
def test_python_jose_verifies_expiry_and_issuer(key):
    claims = verify(m.token({"名": ["值", 1]}, key, 60, "billing"), key, "billing")
    assert claims["data"] == {"名": ["值", 1]}
    assert claims["exp"] - claims["iat"] in (60, 61)
    assert abs(claims["iat"] - time.time()) < 5
    assert jose_jwt.get_unverified_header(m.token(1, key)) == {"alg": "HS256", "typ": "JWT"}


@pytest.mark.parametrize(
    ("token", "issuer", "error"),
    [
        pytest.param(lambda: m.token("x", KEY, -10), "Tarvex", ExpiredSignatureError, id="expired"),
        pytest.param(lambda: m.token("x", KEY, issuer="A"), "Tarvex", JWTClaimsError, id="other-issuer"),
        pytest.param(lambda: m.token("x", KEY, None), "Tarvex", JWTError, id="no-expiry"),
    ],
)
def test_python_jose_refuses_what_it_should(token, issuer, error):
    with pytest.raises(error):
        verify(token(), KEY, issuer)


def test_token_decrypt_verifies_python_jose_tokens():
    now = int(time.time())
    claims = {"data": {"user": 7, "roles": ["审计"]}, "iat": now, "iss": "Tarvex", "exp": now + 60}
    assert m.token_decrypt(jose_jwt.encode(claims, KEY, algorithm="HS256"), KEY) == claims["data"]
    other_issuer = jose_jwt.encode(dict(claims, iss="A"), KEY, algorithm="HS256")
    with pytest.raises(Exception, match="^系统异常：Invalid issuer$") as info:
        m.token_decrypt(other_issuer, KEY)
    assert type(info.value) is Exception
