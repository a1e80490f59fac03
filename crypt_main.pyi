"""Type stub of the crypt_main extension module."""

import sys
from typing import Any, Final, Literal, overload

if sys.version_info >= (3, 12):
    from collections.abc import Buffer
else:
    from typing_extensions import Buffer

import rsa as _rsa

__all__ = ["m_crypt"]

class _Crypt:
    def __init__(self) -> None: ...

    # AES-ECB: key of 16, 24 or 32 UTF-8 bytes; PKCS#7 padding; raw ciphertext bytes.
    @staticmethod
    def aes_ecb(value: str, key: str) -> bytes: ...
    @staticmethod
    def aes_ecb_decrypt(value: Buffer, key: str) -> str: ...

    # AES-CBC: as AES-ECB, with an IV of 16 UTF-8 bytes.
    @staticmethod
    def aes_cbc(value: str, key: str, iv: str) -> bytes: ...
    @staticmethod
    def aes_cbc_decrypt(value: Buffer, key: str, iv: str) -> str: ...

    # Base64 text of the UTF-8 bytes, on one line.
    @staticmethod
    def base64(value: str) -> str: ...
    @staticmethod
    def base64_decrypt(value: str) -> str: ...

    # DES-ECB: key of 8 UTF-8 bytes; PKCS#7 padding; raw ciphertext bytes.
    @staticmethod
    def des(value: str, key: str) -> bytes: ...
    @staticmethod
    def des_decrypt(value: Buffer, key: str) -> str: ...

    # Hex digests; fmt "upper" or "lower" (anything else leaves hashlib's lower case).
    @staticmethod
    def md5(value: str | bytes, fmt: str) -> str: ...
    @staticmethod
    def md5_hmac(value: str | bytes, key: str | bytes) -> bytes: ...

    # PHP-compatible AES-CBC: GBK text and key, zero-filled; raw bytes, or Base64 text
    # when base64s is true. Plain methods (bound to the instance), unlike the others.
    @overload
    def php(self, value: str, key: str, iv: str, base64s: Literal[False] = False) -> bytes: ...
    @overload
    def php(self, value: str, key: str, iv: str, base64s: Literal[True]) -> str: ...
    @overload
    def php(self, value: str, key: str, iv: str, base64s: object = False) -> bytes | str: ...
    @overload
    def php_decrypt(self, value: Buffer, key: str, iv: str, base64s: Literal[False] = False) -> str: ...
    @overload
    def php_decrypt(self, value: str, key: str, iv: str, base64s: Literal[True]) -> str: ...
    @overload
    def php_decrypt(self, value: Buffer | str, key: str, iv: str, base64s: object = False) -> str: ...
    @staticmethod
    def _add_to_16(value: str) -> bytes: ...

    # RSA, PKCS#1 v1.5 through python-rsa: a key pair sized for `length` plaintext bytes;
    # raw ciphertext bytes, or their lower-case hex digits (still bytes) when hexs is true.
    @staticmethod
    def rsa_keys(length: float = 2048) -> tuple[_rsa.PublicKey, _rsa.PrivateKey]: ...
    @staticmethod
    def rsa(value: str, pub_key: _rsa.PublicKey, hexs: object = False) -> bytes: ...
    @staticmethod
    def rsa_decrypt(value: Buffer | str, pri_key: _rsa.PrivateKey, hexs: object = False) -> str: ...

    @staticmethod
    def sha1(value: str, fmt: str) -> str: ...
    @staticmethod
    def sha256(value: str, fmt: str) -> str: ...
    @staticmethod
    def sha384(value: str, fmt: str) -> str: ...
    @staticmethod
    def sha512(value: str, fmt: str) -> str: ...

    # HS256 JSON Web Tokens carrying `data` (any JSON value) in the claim "data";
    # exp_time=None gives a token without expiry, any other non-int is a TypeError.
    # token_decrypt with issuer=None does not check the claim "iss" at all.
    @staticmethod
    def token(data: Any, key: str | bytes, exp_time: int | None = 86400, issuer: str = "Tarvex") -> str: ...
    @staticmethod
    def token_decrypt(token: str | bytes, key: str | bytes, issuer: str | None = "Tarvex") -> Any: ...

m_crypt: Final[_Crypt]
