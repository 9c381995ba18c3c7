#!/usr/bin/env bash
# The signed release, made with a throwaway CA: every package and every PE
# file in the zip and the packages verifies against that CA and names the
# publisher asked for; one commit signed twice gives the same bytes; the
# signed x64 package installs and uninstalls as the unsigned one does; a
# file changed after signing fails ./release --verify. Takes what the
# trees' build made (LORVANE_NO_BUILD=1).
#
#   signed_test.sh X64.msi     (the tree's unsigned package; run inside the bed)
set -uo pipefail

if [[ ! -f $1 ]]; then
    echo "SKIP: $1 was not built (the win32 tree's Orbalin.dll is missing)"
    exit 77
fi
work=$(mktemp -d "$TMPDIR/release-signed.XXXXXX")
trap 'rm -rf "$work"' EXIT
source "$(dirname "${BASH_SOURCE[0]}")/install_lib.sh"
src=$LORVANE_SOURCE_DIR
publisher='Lorvane Test Shop Software'

# A CA of this run only, and a code-signing certificate it issued.
ca() { openssl "$@" >>"$work/openssl.log" 2>&1 || { cat "$work/openssl.log"; exit 1; }; }
ca req -x509 -newkey rsa:2048 -nodes -keyout "$work/ca.key" -out "$work/ca.crt" -days 2 -subj '/CN=Throwaway Test CA' \
    -addext basicConstraints=critical,CA:true -addext keyUsage=critical,keyCertSign
ca req -newkey rsa:2048 -nodes -keyout "$work/signer.key" -out "$work/signer.csr" -subj '/CN=Lorvane Test Signer'
printf 'basicConstraints=CA:false\nkeyUsage=critical,digitalSignature\nextendedKeyUsage=codeSigning\n' >"$work/signer.ext"
ca x509 -req -in "$work/signer.csr" -CA "$work/ca.crt" -CAkey "$work/ca.key" -CAcreateserial -days 2 \
    -extfile "$work/signer.ext" -out "$work/signer.crt"
export LORVANE_SIGN_PASSWORD='pass word;$x'
ca pkcs12 -export -in "$work/signer.crt" -inkey "$work/signer.key" -out "$work/signer.p12" -passout env:LORVANE_SIGN_PASSWORD

signed_release() {  # out-dir
    LORVANE_NO_BUILD=1 "$src/release" --allow-dirty --sign "$work/signer.p12" --publisher "$publisher" \
        --url https://lorvane.example/ --out "$1" >"$1.log" 2>&1 || { fail "signed release: $(tail -5 "$1.log")"; report "signed release test"; exit 1; }
}
signed_release "$work/first"
signed_release "$work/second"
diff "$work/first/SHA256SUMS" "$work/second/SHA256SUMS" || fail "two signed releases of one commit differ"

# Every signature on its own, by osslsigncode and the test's CA.
mkdir -p "$work/files/zip"
unzip -q "$work"/first/*.zip -d "$work/files/zip"
for msi in "$work"/first/*.msi; do
    mkdir "$work/files/${msi##*/}" && (cd "$work/files/${msi##*/}" && msiextract "$msi" >/dev/null)
done
mapfile -t files < <(ls "$work"/first/*.msi; find "$work/files" -iname '*.exe' -o -iname '*.dll')
# Two packages, nine PE files in the zip, six and four in the packages.
((${#files[@]} == 21)) || fail "${#files[@]} files to check, not 21"
for f in "${files[@]}"; do
    out=$(osslsigncode verify -CAfile "$work/ca.crt" -in "$f" 2>&1) || { fail "does not verify: ${f#"$work"/}"; continue; }
    grep -q 'Subject: /CN=Lorvane Test Signer$' <<<"$out" && grep -q "Text description: $publisher\$" <<<"$out" ||
        fail "${f#"$work"/}: not signed as $publisher"
done
"$src/release" --verify "$work/first" --ca "$work/ca.crt" >"$work/verify.txt" 2>&1 ||
    { fail "./release --verify refuses the signed release"; cat "$work/verify.txt"; }

# The signed package installs, runs and uninstalls without a trace.
msi=$(ls "$work"/first/*-x64.msi)
clean_start "$msi"
snapshot before
if install_package "$msi"; then
    osslsigncode verify -CAfile "$work/ca.crt" -in "$install_dir/x64/Orbalin.dll" >/dev/null 2>&1 ||
        fail "the installed x64 Orbalin.dll is not the signed one"
    [[ $(run_sale_line_client) == "$sale_line_client_output" ]] || fail "the installed server does not serve"
    wine msiexec /x "$(winpath "$msi")" /qn || fail "msiexec /x exit code $?"
fi
snapshot after
same_as_before after "after the signed package's uninstall"

# One byte of a signed program changed in the zip.
zip=$(ls "$work"/second/*.zip)
(cd "$work/files/zip" && quillon=$(ls Lorvane-*/x64/Quillon.exe) &&
    printf 'X' | dd of="$quillon" bs=1 seek=1100 conv=notrunc status=none && zip -q "$zip" "$quillon")
"$src/release" --verify "$work/second" --ca "$work/ca.crt" >"$work/tampered.txt" 2>&1 &&
    fail "./release --verify passes a changed file"
grep -q '^FAIL .*x64/Quillon.exe' "$work/tampered.txt" || { fail "the changed Quillon.exe is not named"; cat "$work/tampered.txt"; }

report "signed release test"
