// The test's side of the recipes of docs/interop/node.md (crypt_main.js, put together from
// the page): reads one task a line, "OP ARG...", each argument the Base64 of its bytes,
// and answers each line with "ok RESULT" or "error MESSAGE", both in Base64.
'use strict';
const recipes = require('./crypt_main.js');

const TASKS = {
  digest: (t) => recipes.hexDigest(t[0], t[1]),
  base64: (t) => recipes.base64(t[0]),
  base64_decode: (t) => recipes.base64Decode(t[0]),
  hmac_md5: (t) => recipes.hmacMd5(t[0], t[1]),
  aes_ecb_encrypt: (t) => recipes.aesEcbEncrypt(t[0], t[1]),
  aes_ecb_decrypt: (t, b) => recipes.aesEcbDecrypt(b[0], t[1]),
  aes_cbc_encrypt: (t) => recipes.aesCbcEncrypt(t[0], t[1], t[2]),
  aes_cbc_decrypt: (t, b) => recipes.aesCbcDecrypt(b[0], t[1], t[2]),
  php_encrypt: (t) => recipes.phpEncrypt(t[0], t[1], t[2]),
  php_decrypt: (t, b) => recipes.phpDecrypt(b[0], t[1], t[2]),
  des_encrypt: (t) => recipes.desEncrypt(t[0], t[1]),
  des_decrypt: (t, b) => recipes.desDecrypt(b[0], t[1]),
  rsa_encrypt: (t) => recipes.rsaEncrypt(t[0], t[1]),
  rsa_decrypt: (t, b) => recipes.rsaDecrypt(b[0], t[1]),
  token_issue: (t) => recipes.issueToken(JSON.parse(t[0]), t[1]),
  token_verify: (t) => JSON.stringify(recipes.verifyToken(t[0], t[1], t[2])),
};

const lines = require('node:fs').readFileSync(0, 'utf8').split('\n').filter((line) => line);
const answers = lines.map((line) => {
  const [op, ...fields] = line.split(' ');
  const bytes = fields.map((field) => Buffer.from(field, 'base64'));
  try {
    if (!(op in TASKS)) throw new Error(`no task ${op}`);
    const result = TASKS[op](bytes.map((b) => b.toString('utf8')), bytes);
    return `ok ${Buffer.from(result).toString('base64')}\n`;
  } catch (error) {
    return `error ${Buffer.from(String(error.message), 'utf8').toString('base64')}\n`;
  }
});
process.stdout.write(answers.join(''));
