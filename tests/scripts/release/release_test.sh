#!/bin/bash
# Signs a release with a throwaway CA and code-signing certificate (no
# timestamp), as PEM files and as a PKCS#12 file: osslsigncode verify passes on
# every artefact and fails once one byte is flipped. Also the three refusals that
# come before any build, and the plain word for an unsigned release.
#   release_test.sh SOURCE_DIR WORK_DIR   (the release build stays in WORK_DIR/build)
set -uo pipefail
src=$1
work=$2
mkdir -p "$work"
rm -rf "$work/pki" "$work/dist" "$work/payload"
mkdir -p "$work/pki"
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
pki=$work/pki
openssl req -x509 -newkey rsa:2048 -nodes -keyout "$pki/ca.key" -out "$pki/ca.pem" -days 2 \
    -subj "/CN=Throwaway Test CA" -addext "basicConstraints=critical,CA:TRUE" \
    -addext "keyUsage=critical,keyCertSign" 2>/dev/null
openssl req -newkey rsa:2048 -nodes -keyout "$pki/leaf.key" -out "$pki/leaf.csr" \
    -subj "/CN=Throwaway Code Signing" 2>/dev/null
printf 'extendedKeyUsage=codeSigning\nkeyUsage=digitalSignature\n' >"$pki/leaf.ext"
openssl x509 -req -in "$pki/leaf.csr" -CA "$pki/ca.pem" -CAkey "$pki/ca.key" -CAcreateserial \
    -days 2 -extfile "$pki/leaf.ext" -out "$pki/leaf.pem" 2>/dev/null
openssl pkcs12 -export -inkey "$pki/leaf.key" -in "$pki/leaf.pem" -passout pass:secret \
    -out "$pki/leaf.p12" 2>/dev/null
# The repository's payload with another certificate, which the release guard accepts.
cp -r "$src/resources/payload" "$work/payload"
openssl x509 -in "$pki/ca.pem" -outform DER -out "$work/payload/driver/pos/znw.cer"

release() {
    env DRIVER_PAYLOAD_DIR="$work/payload" TDE_SIGN_CA="$pki/ca.pem" "$@" \
        "$src/scripts/release" --build-dir "$work/build" --out "$work/dist" >"$work/out" 2>&1
}
release TDE_SIGN_CERT="$pki/leaf.pem" TDE_SIGN_KEY="$pki/leaf.key" &&
    fail "signed without a timestamp and without TDE_SIGN_NO_TIMESTAMP=1"
grep -q "refusing to sign without a timestamp" "$work/out" || fail "no refusal: $(cat "$work/out")"
release TDE_SIGN_CERT="$pki/leaf.pem" && fail "signed with a certificate and no key"
release TDE_SIGN_CERT="$pki/leaf.pem" TDE_SIGN_KEY="pkcs11:object=k?pin-value=1234" TDE_SIGN_PKCS11_MODULE=/m \
    TDE_SIGN_NO_TIMESTAMP=1 && fail "took a PIN in a PKCS#11 URI"
grep -q "pin-value lands" "$work/out" || fail "no refusal of the PIN: $(cat "$work/out")"

verify() { osslsigncode verify -CAfile "$pki/ca.pem" -in "$1" >/dev/null 2>&1; }
for form in pem pkcs12; do
    if [ $form = pem ]; then
        keys=(TDE_SIGN_CERT="$pki/leaf.pem" TDE_SIGN_KEY="$pki/leaf.key")
    else
        keys=(TDE_SIGN_CERT="$pki/leaf.p12" TDE_SIGN_KEY="$pki/leaf.p12" TDE_SIGN_PASSWORD=secret)
    fi
    release "${keys[@]}" TDE_SIGN_NO_TIMESTAMP=1 || { fail "$form: release failed: $(tail -20 "$work/out")"; continue; }
    grep -q "WITHOUT a timestamp" "$work/out" || fail "$form: no word on the missing timestamp"
    (cd "$work/dist" && sha256sum --quiet -c SHA256SUMS) || fail "$form: SHA256SUMS does not match"
    [ "$(grep -c '\.msi$' "$work/dist/SHA256SUMS")" = 3 ] || fail "$form: not three packages"
    (cd "$work/payload/driver/pos" && sha256sum --quiet -c "$work/dist/GPD-SHA256" &&
        [ "$(wc -l <"$work/dist/GPD-SHA256")" = 3 ]) || fail "$form: GPD-SHA256 is not the payload's"
    for file in "$work"/dist/*.exe "$work"/dist/*.msi; do
        verify "$file" || fail "$form: $(basename "$file") does not verify"
        # One byte of the file's own content: the exe's DOS stub text, a
        # string of the package's string pool.
        offset=$(grep -aboF -m1 -e "cannot be run" -e "DovEzuvar" "$file" | head -1 | cut -d: -f1)
        cp "$file" "$work/flipped"
        printf 'X' | dd of="$work/flipped" bs=1 seek="$offset" conv=notrunc status=none
        verify "$work/flipped" && fail "$form: $(basename "$file") verifies after a flipped byte"
    done
done

release || fail "unsigned release failed: $(tail -20 "$work/out")"
grep -q "^UNSIGNED:" "$work/out" || fail "an unsigned release does not say so"
verify "$work/dist/TarnDovEzuvar.exe" && fail "the unsigned exe verifies"
[ "$failures" = 0 ] && echo "scripts/release: signing checked"
[ "$failures" = 0 ]
