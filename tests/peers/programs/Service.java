// The test's side of the recipes of docs/interop/java.md (CryptMain.java, put together from
// the page): reads one task a line, "OP ARG...", each argument the Base64 of its bytes,
// and answers each line with "ok RESULT" or "error MESSAGE", both in Base64.
import java.io.BufferedReader;
import java.io.InputStreamReader;
import java.io.PrintStream;
import java.util.Base64;

import static java.nio.charset.StandardCharsets.UTF_8;

public final class Service {
    static Object answer(String op, byte[][] b, String[] t) throws Exception {
        return switch (op) {
            case "digest" -> CryptMain.hexDigest(t[0], t[1]);
            case "base64" -> CryptMain.base64(t[0]);
            case "base64_decode" -> CryptMain.base64Decode(t[0]);
            case "hmac_md5" -> CryptMain.hmacMd5(t[0], t[1]);
            case "aes_ecb_encrypt" -> CryptMain.aesEcbEncrypt(t[0], t[1]);
            case "aes_ecb_decrypt" -> CryptMain.aesEcbDecrypt(b[0], t[1]);
            case "aes_cbc_encrypt" -> CryptMain.aesCbcEncrypt(t[0], t[1], t[2]);
            case "aes_cbc_decrypt" -> CryptMain.aesCbcDecrypt(b[0], t[1], t[2]);
            case "php_encrypt" -> CryptMain.phpEncrypt(t[0], t[1], t[2]);
            case "php_decrypt" -> CryptMain.phpDecrypt(b[0], t[1], t[2]);
            case "des_encrypt" -> CryptMain.desEncrypt(t[0], t[1]);
            case "des_decrypt" -> CryptMain.desDecrypt(b[0], t[1]);
            case "rsa_encrypt" -> CryptMain.rsaEncrypt(t[0], t[1]);
            case "rsa_decrypt" -> CryptMain.rsaDecrypt(b[0], t[1]);
            case "token_issue" -> CryptMain.issueToken(t[0], t[1]);
            case "token_verify" -> CryptMain.verifyToken(t[0], t[1]);
            default -> throw new IllegalArgumentException("no task " + op);
        };
    }

    public static void main(String[] args) throws Exception {
        BufferedReader in = new BufferedReader(new InputStreamReader(System.in, UTF_8));
        PrintStream out = new PrintStream(System.out, false, UTF_8);
        Base64.Encoder b64 = Base64.getEncoder();
        for (String line; (line = in.readLine()) != null; ) {
            String[] fields = line.split(" ", -1);
            byte[][] bytes = new byte[fields.length - 1][];
            String[] texts = new String[fields.length - 1];
            for (int i = 1; i < fields.length; i++) {
                bytes[i - 1] = Base64.getDecoder().decode(fields[i]);
                texts[i - 1] = new String(bytes[i - 1], UTF_8);
            }
            try {
                Object result = answer(fields[0], bytes, texts);
                byte[] raw = result instanceof String text ? text.getBytes(UTF_8) : (byte[]) result;
                out.println("ok " + b64.encodeToString(raw));
            } catch (Exception error) {
                out.println("error " + b64.encodeToString(error.toString().getBytes(UTF_8)));
            }
        }
        out.flush();
    }
}
