// The test's side of the recipes of docs/interop/go.md (crypt_main.go, put together from
// the page): reads one task a line, "OP ARG...", each argument the Base64 of its bytes,
// and answers each line with "ok RESULT" or "error MESSAGE", both in Base64.
package main

import (
	"bufio"
	"encoding/base64"
	"encoding/json"
	"fmt"
	"os"
	"strings"
)

func answer(op string, a []string) (interface{}, error) {
	switch op {
	case "digest":
		return hexDigest(a[0], a[1])
	case "base64":
		return base64Encode(a[0]), nil
	case "base64_decode":
		return base64Decode(a[0])
	case "hmac_md5":
		return hmacMD5(a[0], a[1]), nil
	case "aes_ecb_encrypt":
		return aesEcbEncrypt(a[0], a[1])
	case "aes_ecb_decrypt":
		return aesEcbDecrypt([]byte(a[0]), a[1])
	case "aes_cbc_encrypt":
		return aesCbcEncrypt(a[0], a[1], a[2])
	case "aes_cbc_decrypt":
		return aesCbcDecrypt([]byte(a[0]), a[1], a[2])
	case "php_encrypt":
		return phpEncrypt(a[0], a[1], a[2])
	case "php_decrypt":
		return phpDecrypt([]byte(a[0]), a[1], a[2])
	case "des_encrypt":
		return desEncrypt(a[0], a[1])
	case "des_decrypt":
		return desDecrypt([]byte(a[0]), a[1])
	case "rsa_encrypt":
		return rsaEncrypt(a[0], a[1])
	case "rsa_decrypt":
		return rsaDecrypt([]byte(a[0]), a[1])
	case "token_issue":
		return issueToken(a[0], a[1])
	case "token_verify":
		claims, err := verifyToken(a[0], a[1], a[2])
		if err != nil {
			return nil, err
		}
		return json.Marshal(claims)
	}
	return nil, fmt.Errorf("no task %q", op)
}

func main() {
	in := bufio.NewScanner(os.Stdin)
	in.Buffer(nil, 1<<20)
	out := bufio.NewWriter(os.Stdout)
	defer out.Flush()
	b64 := base64.StdEncoding
	for in.Scan() {
		fields := strings.Split(in.Text(), " ")
		args := make([]string, len(fields)-1)
		for i, field := range fields[1:] {
			arg, err := b64.DecodeString(field)
			if err != nil {
				panic(err)
			}
			args[i] = string(arg)
		}
		result, err := answer(fields[0], args)
		if err != nil {
			fmt.Fprintln(out, "error", b64.EncodeToString([]byte(err.Error())))
		} else if text, ok := result.(string); ok {
			fmt.Fprintln(out, "ok", b64.EncodeToString([]byte(text)))
		} else {
			fmt.Fprintln(out, "ok", b64.EncodeToString(result.([]byte)))
		}
	}
	if err := in.Err(); err != nil {
		panic(err)
	}
}
