<?php
// php encrypt.php KEY IV TEXT [raw]
// Prints TEXT encrypted as m_crypt.php_decrypt(ciphertext, KEY, IV, base64s=True) expects it:
// Base64 text; with "raw", the hex form of the bytes that m_crypt.php_decrypt(bytes, KEY, IV) takes.
[, $key, $iv, $text] = $argv;
$raw = ($argv[4] ?? '') === 'raw';

// GBK bytes, zero-filled to a multiple of 16 (nothing added when already a multiple).
function fill16(string $bytes): string {
    return str_pad($bytes, intdiv(strlen($bytes) + 15, 16) * 16, "\0");
}

$key = fill16(mb_convert_encoding($key, 'GBK', 'UTF-8'));
$cipher = strlen($key) > 16 ? 'aes-256-cbc' : 'aes-128-cbc';
$plain = fill16(mb_convert_encoding($text, 'GBK', 'UTF-8'));
$ciphertext = $raw
    ? openssl_encrypt($plain, $cipher, $key, OPENSSL_RAW_DATA | OPENSSL_ZERO_PADDING, $iv)
    : openssl_encrypt($plain, $cipher, $key, OPENSSL_ZERO_PADDING, $iv);
if ($ciphertext === false) {
    fwrite(STDERR, "openssl_encrypt failed: " . openssl_error_string() . "\n");
    exit(1);
}
echo $raw ? bin2hex($ciphertext) : $ciphertext;
