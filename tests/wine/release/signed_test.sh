#!/usr/bin/env bash
# The signed release, made with a throwaway CA: every package and every PE
# file in the zip and the packages verifies against that CA and names the
# publisher asked for; one commit signed twice gives the same bytes; the
# signed x64 package installs and uninstalls as the unsigned one does;
# ./release --verify passes it, pinned to its signer, and fails each copy
# of it changed as an attacker could, naming the file. Takes what the
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

# A CA of this run only, and code-signing certificates it issued: the
# publisher's and another one's.
ca() { openssl "$@" >>"$work/openssl.log" 2>&1 || { cat "$work/openssl.log"; exit 1; }; }
ca req -x509 -newkey rsa:2048 -nodes -keyout "$work/ca.key" -out "$work/ca.crt" -days 2 -subj '/CN=Throwaway Test CA' \
    -addext basicConstraints=critical,CA:true -addext keyUsage=critical,keyCertSign
printf 'basicConstraints=CA:false\nkeyUsage=critical,digitalSignature\nextendedKeyUsage=codeSigning\n' >"$work/signer.ext"
export LORVANE_SIGN_PASSWORD='pass word;$x'
certificate() {  # name common-name: NAME.p12 and NAME.crt, with the password above
    ca req -newkey rsa:2048 -nodes -keyout "$work/$1.key" -out "$work/$1.csr" -subj "/CN=$2"
    ca x509 -req -in "$work/$1.csr" -CA "$work/ca.crt" -CAkey "$work/ca.key" -CAcreateserial -days 2 \
        -extfile "$work/signer.ext" -out "$work/$1.crt"
    ca pkcs12 -export -in "$work/$1.crt" -inkey "$work/$1.key" -out "$work/$1.p12" -passout env:LORVANE_SIGN_PASSWORD
}
certificate signer 'Lorvane Test Signer'
certificate mallory 'Mallory (not Lorvane)'
thumbprint() { openssl x509 -in "$1" -noout -fingerprint -sha256 | sed 's/.*=//; s/://g'; }
thumbprint=$(thumbprint "$work/signer.crt")

signed_release() {  # out-dir
    LORVANE_NO_BUILD=1 "$src/release" --allow-dirty --sign "$work/signer.p12" --publisher "$publisher" \
        --url https://lorvane.example/ --out "$1" >"$1.log" 2>&1 || { fail "signed release: $(tail -5 "$1.log")"; report "signed release test"; exit 1; }
}
signed_release "$work/first"
signed_release "$work/second"
diff "$work/first/SHA256SUMS" "$work/second/SHA256SUMS" || fail "two signed releases of one commit differ"
cmp -s "$work/first/SHA256SUMS.p7s" "$work/second/SHA256SUMS.p7s" || fail "two signatures of one SHA256SUMS differ"
grep -q -- "--signer $thumbprint\$" "$work/first.log" || fail "./release does not show the thumbprint to publish"

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
"$src/release" --verify "$work/first" --ca "$work/ca.crt" --signer "$thumbprint" >"$work/verify.txt" 2>&1 ||
    { fail "./release --verify refuses the signed release"; cat "$work/verify.txt"; }
grep -q "^signer: SHA-256 $thumbprint  CN=Lorvane Test Signer\$" "$work/verify.txt" ||
    { fail "./release --verify does not name the signer"; cat "$work/verify.txt"; }

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

# Copies of the release changed as an attacker could: each fails
# ./release --verify, naming the file.
refused() {  # what pattern [verify-option...]: --verify of $work/case fails with a line "FAIL  PATTERN"
    local what=$1 pattern=$2
    shift 2
    "$src/release" --verify "$work/case" --ca "$work/ca.crt" "$@" >"$work/case.txt" 2>&1 &&
        fail "./release --verify passes $what"
    grep -q "^FAIL  $pattern" "$work/case.txt" || { fail "$what: no line FAIL  $pattern"; cat "$work/case.txt"; }
}
copy() { rm -rf "$work/case" && cp -r "$work/first" "$work/case"; }
top=$(cd "$work/files/zip" && ls -d Lorvane-*)
in_zip() {  # file path: FILE as PATH in the copy's zip
    rm -rf "$work/edit" && mkdir -p "$work/edit/${2%/*}" && cp "$1" "$work/edit/$2" &&
        (cd "$work/edit" && zip -q "$work"/case/*.zip "$2")
}
sums_again() { (cd "$work/case" && sha256sum -- *.msi *.zip >SHA256SUMS); }

copy
rm "$work"/case/*-x86.msi
refused "a release without its x86 package" 'Lorvane-[0-9.]*-x86\.msi  missing'
copy
rm "$work/case/SHA256SUMS"
refused "a release without SHA256SUMS" 'SHA256SUMS  missing'
rm -rf "$work/case" && mkdir "$work/case"
refused "an empty folder" '.*/case  empty folder'

copy
osslsigncode remove-signature -in "$work/files/zip/$top/x64/Orbalin.dll" -out "$work/unsigned.dll" >/dev/null
in_zip "$work/unsigned.dll" "$top/x64/Orbalin.dat"
sums_again
refused "an unsigned program named .dat" "Lorvane-.*-portable\.zip:$top/x64/Orbalin\.dat  not signed"

copy
osslsigncode remove-signature -in "$work/files/zip/$top/x64/Quillon.exe" -out "$work/mallory.exe" >/dev/null
SOURCE_DATE_EPOCH=0 "$src/packaging/sign" "$work/mallory.p12" "$publisher" https://lorvane.example/ '' "$work/mallory.exe"
in_zip "$work/mallory.exe" "$top/x64/Quillon.exe"
sums_again
refused "a program signed by another certificate of the CA" \
    "Lorvane-.*-portable\.zip:$top/x64/Quillon\.exe  signed by CN=Mallory (not Lorvane)"
grep -q '^FAIL  SHA256SUMS.p7s  does not verify' "$work/case.txt" || fail "SHA256SUMS made again passes"
copy
refused "a release under another --signer" 'Lorvane-[0-9.]*-x64\.msi  signed by CN=Lorvane Test Signer' \
    --signer "$(thumbprint "$work/mallory.crt")"

# One byte of a signed program changed in the zip.
copy
cp "$work/files/zip/$top/x64/Quillon.exe" "$work/changed.exe"
printf 'X' | dd of="$work/changed.exe" bs=1 seek=1100 conv=notrunc status=none
in_zip "$work/changed.exe" "$top/x64/Quillon.exe"
refused "a changed byte" "Lorvane-.*-portable\.zip:$top/x64/Quillon\.exe  changed after signing"

report "signed release test"
