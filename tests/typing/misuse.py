"""Calls that the stub makes mypy refuse; each marked line names the error code expected."""

from crypt_main import m_crypt

m_crypt.aes_ecb(b"text", "0123456789abcdef")  # error: arg-type
m_crypt.md5("text")  # error: call-arg
count: int = m_crypt.sha256("text", "lower")  # error: assignment
m_crypt.rsa("text", "not a key object")  # error: arg-type
sealed: str = m_crypt.php("text", "key", "abcdefghijklmnop")  # error: assignment
m_crypt.token_decrypt("token", 12345)  # error: arg-type
m_crypt.aes_gcm("text", "key")  # error: attr-defined
