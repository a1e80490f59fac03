"""Tokens checked against independent JOSE implementations, in both directions."""

import base64
import json
import time

import pytest

import crypt_main
from joserfc import jwt as joserfc_jwt
from joserfc.jwk import OctKey
from joserfc.jwt import JWTClaimsRegistry
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


peers = pytest.mark.parametrize("peer", [Jwcrypto, Joserfc], ids=["jwcrypto", "joserfc"])
values = pytest.mark.parametrize("data", ["text, 世界", 7, None, [1, "a"], {"k": {"n": [True, 1.5]}}])


@peers
@values
def test_tokens_made_here_verify_there(peer, data):
    claims = peer.verify(m.token(data, KEY), KEY)
    assert claims["data"] == data and claims["iss"] == "Tarvex"
    assert claims["exp"] - claims["iat"] in (86400, 86401)
    assert set(claims) == {"data", "iat", "iss", "exp"}


@peers
def test_peers_refuse_a_token_made_here_under_another_key(peer):
    with pytest.raises(Exception):
        peer.verify(m.token("x", KEY), OTHER_KEY)


@peers
@values
def test_tokens_made_there_decode_here(peer, data):
    now = int(time.time())
    token = peer.issue({"data": data, "iat": now, "iss": "Tarvex", "exp": now + 600}, KEY)
    assert m.token_decrypt(token, KEY) == data


@peers
def test_token_made_there_under_another_key_is_refused_here(peer):
    token = peer.issue({"data": 1, "iss": "Tarvex"}, OTHER_KEY)
    with pytest.raises(Exception, match="^系统异常：Signature verification failed$") as info:
        m.token_decrypt(token, KEY)
    assert type(info.value) is Exception


@peers
def test_expired_token_made_there_is_reported_here(peer):
    now = int(time.time())
    token = peer.issue({"data": 1, "iat": now - 100, "iss": "Tarvex", "exp": now - 50}, KEY)
    with pytest.raises(TimeoutError) as info:
        m.token_decrypt(token, KEY)
    assert info.value.args == ("token已过期",)
