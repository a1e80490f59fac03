"""Tokens checked against independent JOSE implementations, in both directions.
python-jose also checks the expiry and the issuer of the tokens made here."""

import base64
import json
import time

import pytest

import crypt_main
from conftest import tool

for _name in ("jwcrypto", "joserfc"):
    tool(_name)
from joserfc import jwt as joserfc_jwt
from joserfc.jwk import OctKey
from joserfc.jwt import JWTClaimsRegistry
from jose import jwt as jose_jwt
from jose.exceptions import ExpiredSignatureError, JWTClaimsError, JWTError
from jwcrypto import jwk
from jwcrypto import jwt as jwcrypto_jwt

m = crypt_main.m_crypt
KEY = "a key of thirty-two characters.."
OTHER_KEY = "another key, also long enough..."


class Jwcrypto:
    @staticmethod
    def _key(key):
        return jwk.JWK(kty="oct", k=base64.urlsafe_b64encode(key.encode()).rstrip(b"=").decode())

    @classmethod
    def verify(cls, token, key):
        # Its claim checks refuse a null claim value, so only the signature is checked here.
        checked = jwcrypto_jwt.JWT(jwt=token, key=cls._key(key), check_claims=False)
        return json.loads(checked.claims)

    @classmethod
    def issue(cls, claims, key):
        token = jwcrypto_jwt.JWT(header={"alg": "HS256", "typ": "JWT"}, claims=claims)
        token.make_signed_token(cls._key(key))
        return token.serialize()


class Joserfc:
    @staticmethod
    def verify(token, key):
        checked = joserfc_jwt.decode(token, OctKey.import_key(key), algorithms=["HS256"])
        JWTClaimsRegistry(iss={"essential": True, "value": "Tarvex"}).validate(checked.claims)
        return checked.claims

    @staticmethod
    def issue(claims, key):
        return joserfc_jwt.encode({"alg": "HS256", "typ": "JWT"}, claims, OctKey.import_key(key))


class Jose:
    @staticmethod
    def verify(token, key, issuer="Tarvex"):
        return jose_jwt.decode(token, key, algorithms=["HS256"], issuer=issuer,
                               options={"require_iat": True, "require_exp": True, "require_iss": True})

    @staticmethod
    def issue(claims, key):
        return jose_jwt.encode(claims, key, algorithm="HS256")


peers = pytest.mark.parametrize("peer", [Jwcrypto, Joserfc, Jose], ids=["jwcrypto", "joserfc", "python-jose"])
DATA = ["text, 世界", None, {"k": {"n": [True, 1.5]}}]
values = pytest.mark.parametrize("data", DATA)


@peers
@values
def test_tokens_made_here_verify_there(peer, data):
    claims = peer.verify(m.token(data, KEY), KEY)
    assert claims["data"] == data and claims["iss"] == "Tarvex"
    assert claims["exp"] - claims["iat"] in (86400, 86401)
    assert set(claims) == {"data", "iat", "iss", "exp"}


@peers
@values
def test_tokens_made_there_decode_here(peer, data):
    now = int(time.time())
    token = peer.issue({"data": data, "iat": now, "iss": "Tarvex", "exp": now + 600}, KEY)
    assert m.token_decrypt(token, KEY) == data


@peers
def test_wrong_keys_and_expiry_across_implementations(peer):
    with pytest.raises(Exception):
        peer.verify(m.token("x", KEY), OTHER_KEY)
    with pytest.raises(Exception, match="^系统异常：Signature verification failed$") as info:
        m.token_decrypt(peer.issue({"data": 1, "iss": "Tarvex"}, OTHER_KEY), KEY)
    assert type(info.value) is Exception
    now = int(time.time())
    with pytest.raises(TimeoutError) as info:
        m.token_decrypt(peer.issue({"data": 1, "iat": now - 100, "iss": "Tarvex", "exp": now - 50}, KEY), KEY)
    assert info.value.args == ("token已过期",)


@pytest.mark.parametrize("key", [KEY, KEY.encode()], ids=["str-key", "bytes-key"])
def test_python_jose_checks_expiry_and_issuer(key):
    claims = Jose.verify(m.token({"名": ["值", 1]}, key, 60, "billing"), key, "billing")
    assert claims["exp"] - claims["iat"] in (60, 61) and abs(claims["iat"] - time.time()) < 5
    assert jose_jwt.get_unverified_header(m.token(1, key)) == {"alg": "HS256", "typ": "JWT"}
    for token, error in [(m.token("x", key, -10), ExpiredSignatureError), (m.token("x", key, issuer="A"), JWTClaimsError),
                         (m.token("x", key, None), JWTError)]:
        with pytest.raises(error):
            Jose.verify(token, key)
    with pytest.raises(Exception, match="^系统异常：Invalid issuer$"):
        m.token_decrypt(Jose.issue({"data": 1, "iss": "A", "exp": int(time.time()) + 60}, key), key)
