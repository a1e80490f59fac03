"""Two JOSE implementations besides PyJWT (joserfc and python-jose) as peers of the tokens:
each verifies what `token` issues, and `token_decrypt` verifies what each issues."""

import json
import time

import pytest
from jose import jwt as jose_jwt
from joserfc import jwt as joserfc_jwt
from joserfc.jwk import OctKey
from joserfc.jwt import JWTClaimsRegistry

from conftest import m

KEY = "a shared secret of more than thirty-two bytes, for HS256"
ISSUER = "Tarvex"

DATA = {
    "text": "中文 text",
    "object": {"user": 7, "roles": ["admin", "审计"], "名": "值"},
    "list": [1, 2.5, None, True],
    "number": 42,
    "null": None,
}


class Joserfc:
    @staticmethod
    def verify(token, key, issuer):
        """Checks signature, issuer and expiry; returns (header, claims)."""
        verified = joserfc_jwt.decode(token, OctKey.import_key(key), algorithms=["HS256"])
        JWTClaimsRegistry(iss={"essential": True, "value": issuer}).validate(verified.claims)
        return verified.header, verified.claims

    @staticmethod
    def issue(claims, key):
        return joserfc_jwt.encode({"alg": "HS256"}, claims, OctKey.import_key(key))


class PythonJose:
    @staticmethod
    def verify(token, key, issuer):
        claims = jose_jwt.decode(token, key, algorithms=["HS256"], issuer=issuer)
        return jose_jwt.get_unverified_header(token), claims

    @staticmethod
    def issue(claims, key):
        return jose_jwt.encode(claims, key, algorithm="HS256")


PEERS = [pytest.param(Joserfc, id="joserfc"), pytest.param(PythonJose, id="python-jose")]


def as_json(value):
    return json.loads(json.dumps(value))


@pytest.mark.parametrize("data", DATA.values(), ids=DATA.keys())
@pytest.mark.parametrize("peer", PEERS)
def test_peer_verifies_token(peer, data):
    header, claims = peer.verify(m.token(data, KEY), KEY, ISSUER)
    assert header["alg"] == "HS256"
    assert claims["data"] == as_json(data)
    assert claims["iss"] == ISSUER
    assert claims["exp"] - claims["iat"] in (86400, 86401)
    assert abs(claims["iat"] - time.time()) < 5


@pytest.mark.parametrize("peer", PEERS)
def test_peer_verifies_token_with_bytes_key_and_own_issuer(peer):
    key = KEY.encode()
    _, claims = peer.verify(m.token("x", key, 60, "billing"), key, "billing")
    assert (claims["data"], claims["iss"]) == ("x", "billing")
    assert claims["exp"] - claims["iat"] in (60, 61)


@pytest.mark.parametrize(
    ("make", "key", "issuer"),
    [
        pytest.param(lambda: m.token("x", KEY, -10), KEY, ISSUER, id="expired"),
        pytest.param(lambda: m.token("x", KEY), KEY + "!", ISSUER, id="other-key"),
        pytest.param(lambda: m.token("x", KEY, issuer="A"), KEY, ISSUER, id="other-issuer"),
    ],
)
@pytest.mark.parametrize("peer", PEERS)
def test_peer_refuses_bad_token(peer, make, key, issuer):
    with pytest.raises(Exception):
        peer.verify(make(), key, issuer)


def claims_for(data, lifetime, issuer=ISSUER):
    now = int(time.time())
    return {"data": data, "iat": now, "iss": issuer, "exp": now + lifetime}


@pytest.mark.parametrize("data", DATA.values(), ids=DATA.keys())
@pytest.mark.parametrize("peer", PEERS)
def test_token_decrypt_verifies_peer_token(peer, data):
    assert m.token_decrypt(peer.issue(claims_for(data, 60), KEY), KEY) == as_json(data)


@pytest.mark.parametrize("peer", PEERS)
def test_token_decrypt_reports_peer_token_faults(peer):
    with pytest.raises(TimeoutError) as expired:
        m.token_decrypt(peer.issue(claims_for("x", -10), KEY), KEY)
    assert expired.value.args == ("token已过期",)
    for token, key in [(peer.issue(claims_for("x", 60, "A"), KEY), KEY), (peer.issue(claims_for("x", 60), KEY), KEY[::-1])]:
        with pytest.raises(Exception) as failed:
            m.token_decrypt(token, key)
        assert type(failed.value) is Exception and failed.value.args[0].startswith("系统异常：")
