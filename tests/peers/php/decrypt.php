<?php
// php decrypt.php KEY IV CIPHERTEXT [raw]
// Prints the text that m_crypt.php(text, KEY, IV, base64s=True) encrypted into the Base64
// CIPHERTEXT; with "raw", CIPHERTEXT is the hex form of the bytes of m_crypt.php(text, KEY, IV).
[, $key, $iv, $ciphertext] = $argv;
$raw = ($argv[4] ?? '') === 'raw';

// GBK bytes, zero-filled to a multiple of 16 (nothing added when already a multiple).
function fill16(string $bytes): string {
    return str_pad($bytes, intdiv(strlen($bytes) + 15, 16) * 16, "\0");
}

$key = fill16(mb_convert_encoding($key, 'GBK', 'UTF-8'));
$cipher = strlen($key) > 16 ? 'aes-256-cbc' : 'aes-128-cbc';
$plain = $raw
    ? openssl_decrypt(hex2bin($ciphertext), $cipher, $key, OPENSSL_RAW_DATA | OPENSSL_ZERO_PADDING, $iv)
    : openssl_decrypt($ciphertext, $cipher, $key, OPENSSL_ZERO_PADDING, $iv);
if ($plain === false) {
    fwrite(STDERR, "openssl_decrypt failed: " . openssl_error_string() . "\n");
    exit(1);
}
echo mb_convert_encoding(rtrim($plain, "\0"), 'UTF-8', 'GBK');
