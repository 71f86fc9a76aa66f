#!/usr/bin/env bash
# Signing as scripts/dist signs, with a throwaway self-signed certificate and a timestamp
# server of the test's own on the loopback: the DLL, the host and the MSI carry SHA-256
# Authenticode signatures by that certificate, timestamped; an unsigned file reads as
# unsigned; a wrong password leaves the file as it was; and, where Wine starts, the signed
# MSI passes the MSI test.
#   sign_test.sh WINE_RUN BIN_DIR WXS_FILE   (WINEPREFIX set by the caller)
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
wine_run=$(realpath "$1")
bin=$(realpath "$2")
wxs=$(realpath "$3")
work=$(mktemp -d "${TMPDIR:-/tmp}/iniplugin-sign.XXXXXX")
tsa=""
trap '[ -z "$tsa" ] || kill "$tsa" 2>/dev/null; rm -rf "$work"' EXIT
. "$here/check.sh"
cd "$work"
files=(IniPlugin.dll inihost.exe IniPlugin.msi)
cp "${files[@]/#/$bin/}" .

# The signer's certificate, and the timestamp server's, whose purpose must be that alone.
openssl req -x509 -newkey rsa:2048 -nodes -days 2 -keyout signer.key -out signer.pem \
  -subj "/CN=IniPlugin throwaway signer" -addext extendedKeyUsage=codeSigning 2>/dev/null
openssl pkcs12 -export -in signer.pem -inkey signer.key -out signer.pfx -passout pass:throwaway
printf 'throwaway\n' > password
openssl req -x509 -newkey rsa:2048 -nodes -days 2 -keyout tsa.key -out tsa.pem \
  -subj "/CN=IniPlugin throwaway timestamps" -addext extendedKeyUsage=critical,timeStamping 2>/dev/null
echo 01 > tsa.serial
printf '%s\n' '[tsa]' 'default_tsa = here' '[here]' "serial = $work/tsa.serial" \
  "signer_cert = $work/tsa.pem" "signer_key = $work/tsa.key" 'signer_digest = sha256' \
  'default_policy = 1.2.3.4.1' 'digests = sha256' 'ess_cert_id_alg = sha256' > tsa.cnf
# Answers as many requests as there are files, then stops by itself.
python3 -c '
import http.server, subprocess, sys
class Tsa(http.server.BaseHTTPRequestHandler):
    def do_POST(self):
        query = self.rfile.read(int(self.headers["Content-Length"]))
        reply = subprocess.run(["openssl", "ts", "-reply", "-config", "tsa.cnf", "-queryfile",
                                "/dev/stdin", "-out", "/dev/stdout"], input=query,
                               capture_output=True).stdout
        self.send_response(200)
        self.send_header("Content-Type", "application/timestamp-reply")
        self.send_header("Content-Length", str(len(reply)))
        self.end_headers()
        self.wfile.write(reply)
    def log_message(self, *args): pass
server = http.server.HTTPServer(("127.0.0.1", 0), Tsa)
server.timeout = 120
print(server.server_port, flush=True)
for _ in range(int(sys.argv[1])): server.handle_request()
' "${#files[@]}" > tsa.port &
tsa=$!
for _ in $(seq 50); do [ -s tsa.port ] && break; sleep 0.1; done
export no_proxy=127.0.0.1 NO_PROXY=127.0.0.1

verify() {  # verify FILE: status, digest, signer, timestamp and signature as the tool reports them
  osslsigncode verify -CAfile signer.pem -TSA-CAfile tsa.pem -in "$1" > verify.out 2>&1
  echo "$? $(awk -F': *' '/^Message digest algorithm/ && !d {d = $2} /Subject:/ && !s {s = $2}
    /^Timestamp Server Signature verification/ {t = $2} /^Signature verification:/ {v = $2}
    /No signature found/ {v = "none"} END {printf "%s|%s|%s|%s", d, s, t, v}' verify.out)"
}

check "an unsigned file reads as unsigned" "1 |||none" "$(verify IniPlugin.dll)"
INIPLUGIN_SIGN_CERT=signer.pfx INIPLUGIN_SIGN_PASSWORD=wrong "$here/../../scripts/sign" \
  IniPlugin.dll >/dev/null 2>&1
check "a wrong password fails and leaves the file as it was" "1 same" \
  "$? $(cmp -s IniPlugin.dll "$bin/IniPlugin.dll" && echo same)"

INIPLUGIN_SIGN_CERT=signer.pfx INIPLUGIN_SIGN_PASSWORD_FILE=password \
  INIPLUGIN_SIGN_TIMESTAMP="http://127.0.0.1:$(cat tsa.port)/" "$here/../../scripts/sign" "${files[@]}"
check "scripts/sign" 0 "$?"
for f in "${files[@]}"; do
  check "$f: verified, SHA-256, by the throwaway signer, timestamped" \
    "0 SHA256|/CN=IniPlugin throwaway signer|ok|ok" "$(verify "$f")"
done

if [ "${INIPLUGIN_WIN_BITS:-32}" = 64 ] || "$here/../../scripts/wine-works"; then
  "$here/msi_test.sh" "$wine_run" "$bin" "$wxs" "$work/IniPlugin.msi"
  check "the signed MSI passes the MSI test under Wine" 0 "$?"
else
  echo "SKIPPED: installing the signed MSI under Wine: Wine cannot start on this machine"
fi
summary
