"""The operations of crypt_main written as a plain Python class.

This is the yardstick the benchmarks compare the extension with: the same module
globals, the same calls in the same order, the same defaults and results, written the
way a Python developer would write the class by hand. Nothing here is tuned.
"""

__all__ = ["m_crypt"]
import base64
import hashlib
import hmac

# time stamps for the tokens
import time
from binascii import a2b_hex
from binascii import b2a_hex

# signed tokens
import jwt

import rsa
from Crypto.Cipher import AES
from Crypto.Cipher import DES
from Crypto.Util.Padding import pad
from Crypto.Util.Padding import unpad


class _Crypt:
    def __init__(self):
        pass

    @staticmethod
    def aes_ecb(value, key):
        cryptor = AES.new(key.encode("utf-8"), AES.MODE_ECB)
        result = cryptor.encrypt(pad(value.encode("utf-8"), AES.block_size))
        return result

    @staticmethod
    def aes_ecb_decrypt(value, key):
        cryptor = AES.new(key.encode("utf-8"), AES.MODE_ECB)
        text = cryptor.decrypt(value)
        result = unpad(text, AES.block_size).decode()
        return result

    @staticmethod
    def aes_cbc(value, key, iv):
        cryptor = AES.new(key.encode("utf-8"), AES.MODE_CBC, iv.encode("utf-8"))
        result = cryptor.encrypt(pad(value.encode("utf-8"), AES.block_size))
        return result

    @staticmethod
    def aes_cbc_decrypt(value, key, iv):
        cryptor = AES.new(key.encode("utf-8"), AES.MODE_CBC, iv.encode("utf-8"))
        text = cryptor.decrypt(value)
        result = unpad(text, AES.block_size).decode()
        return result

    @staticmethod
    def base64(value):
        result = str(base64.encodebytes(value.encode()), encoding="utf-8").replace("\n", "")
        return result

    @staticmethod
    def base64_decrypt(value):
        result = str(base64.decodebytes(value.encode(encoding="utf-8")), encoding="utf-8")
        return result

    @staticmethod
    def des(value, key):
        cryptor = DES.new(key.encode("utf-8"), DES.MODE_ECB)
        result = cryptor.encrypt(pad(value.encode("utf-8"), DES.block_size))
        return result

    @staticmethod
    def des_decrypt(value, key):
        cryptor = DES.new(key.encode("utf-8"), DES.MODE_ECB)
        text = cryptor.decrypt(value)
        result = unpad(text, DES.block_size).decode()
        return result

    @staticmethod
    def md5(value, fmt):
        result = hashlib.md5()
        if isinstance(value, bytes):
            result.update(value)
        else:
            result.update(value.encode(encoding="utf-8"))
        result = result.hexdigest()
        if fmt == "upper":
            result = result.upper()
        elif fmt == "lower":
            result = result.lower()
        return result

    @staticmethod
    def md5_hmac(value, key):
        if not isinstance(value, bytes):
            value = value.encode(encoding="utf-8")
        if not isinstance(key, bytes):
            key = key.encode(encoding="utf-8")
        result = hmac.new(key, value, digestmod=hashlib.md5)
        result = result.digest()
        return result

    def php(self, value, key, iv, base64s=False):
        cryptor = AES.new(self._add_to_16(key), AES.MODE_CBC, iv.encode("utf-8"))
        result = cryptor.encrypt(self._add_to_16(value))
        if base64s:
            result = str(base64.encodebytes(result), encoding="utf-8").replace("\n", "")
        return result

    def php_decrypt(self, value, key, iv, base64s=False):
        cryptor = AES.new(self._add_to_16(key), AES.MODE_CBC, iv.encode("utf-8"))
        if base64s:
            value = base64.decodebytes(value.encode())
        text = cryptor.decrypt(value).decode("gbk")
        result = text.rstrip("\x00")
        return result

    @staticmethod
    def _add_to_16(value):
        value = value.encode("gbk")
        while len(value) % 16 != 0:
            value += "\x00".encode()
        return value

    @staticmethod
    def rsa_keys(length=2048):
        required_bits = (length + 11) * 8
        if required_bits <= 512:
            key_length = 512
        elif required_bits <= 1024:
            key_length = 1024
        elif required_bits <= 2048:
            key_length = 2048
        else:
            key_length = 4096
        pub_key, pri_key = rsa.newkeys(key_length)
        return pub_key, pri_key

    @staticmethod
    def rsa(value, pub_key, hexs=False):
        text = rsa.encrypt(value.encode(), pub_key)
        result = b2a_hex(text) if hexs else text
        return result

    @staticmethod
    def rsa_decrypt(value, pri_key, hexs=False):
        if hexs:
            value = a2b_hex(value)
        result = rsa.decrypt(value, pri_key).decode()
        return result

    @staticmethod
    def sha1(value, fmt):
        result = hashlib.sha1()
        result.update(value.encode(encoding="utf-8"))
        result = result.hexdigest()
        if fmt == "upper":
            result = result.upper()
        elif fmt == "lower":
            result = result.lower()
        return result

    @staticmethod
    def sha256(value, fmt):
        result = hashlib.sha256()
        result.update(value.encode(encoding="utf-8"))
        result = result.hexdigest()
        if fmt == "upper":
            result = result.upper()
        elif fmt == "lower":
            result = result.lower()
        return result

    @staticmethod
    def sha384(value, fmt):
        result = hashlib.sha384()
        result.update(value.encode(encoding="utf-8"))
        result = result.hexdigest()
        if fmt == "upper":
            result = result.upper()
        elif fmt == "lower":
            result = result.lower()
        return result

    @staticmethod
    def sha512(value, fmt):
        result = hashlib.sha512()
        result.update(value.encode(encoding="utf-8"))
        result = result.hexdigest()
        if fmt == "upper":
            result = result.upper()
        elif fmt == "lower":
            result = result.lower()
        return result

    @staticmethod
    def token(data, key, exp_time=86400, issuer="Tarvex"):
        token_dict = {"data": data, "iat": int(time.time()), "iss": issuer}
        if isinstance(exp_time, int):
            token_dict.update(exp=int(time.time()) + exp_time)
        result = jwt.encode(token_dict, key, algorithm="HS256")
        return result

    @staticmethod
    def token_decrypt(token, key, issuer="Tarvex"):
        try:
            token_dict = jwt.decode(token, key, issuer=issuer, algorithms=["HS256"])
            return token_dict.get("data")
        except jwt.exceptions.ExpiredSignatureError:
            raise TimeoutError("token已过期")
        except Exception as e:
            raise Exception("系统异常：" + f"{e}")


m_crypt = _Crypt()
__test__ = {}
