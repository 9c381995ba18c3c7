#!/usr/bin/env bash
# regsvr32 registers and unregisters Orbalin.dll from a folder whose name
# holds a single quote; the registry is checked entry by entry.
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
source "$here/test_lib.sh"

work=$(mktemp -d "$LORVANE_BUILD_DIR/tests/wine/module/regsvr32.XXXXXX")
trap 'rm -rf "$work"' EXIT
folder="$work/it's here"
mkdir -p "$folder"
cp "$ORBALIN_DLL" "$folder/Orbalin.dll"
dll=$(winpath "$folder/Orbalin.dll")
dll_dir=$(winpath "$folder")\\

regsvr32() { wine regsvr32 /s "$@" >/dev/null 2>&1; }

# Start from nothing registered (an earlier run may have left entries).
regsvr32 /u "$dll" || true

if regsvr32 "$dll"; then pass "regsvr32 exit code 0"; else fail "regsvr32 failed"; fi

# The registration script's rows.
expect_value Orbalin.OrbalinObj.1 "" "OrbalinObj Class"
expect_value 'Orbalin.OrbalinObj.1\CLSID' "" "$CLSID"
expect_value Orbalin.OrbalinObj "" "OrbalinObj Class"
expect_value 'Orbalin.OrbalinObj\CLSID' "" "$CLSID"
expect_value 'Orbalin.OrbalinObj\CurVer' "" "Orbalin.OrbalinObj.1"
expect_value "CLSID\\$CLSID" "" "OrbalinObj Class"
expect_value "CLSID\\$CLSID\\ProgID" "" "Orbalin.OrbalinObj.1"
expect_value "CLSID\\$CLSID\\VersionIndependentProgID" "" "Orbalin.OrbalinObj"
if key_exists "CLSID\\$CLSID\\Programmable"; then pass "Programmable key"; else fail "no Programmable key"; fi
expect_value "CLSID\\$CLSID\\InprocServer32" "" "$dll"
expect_value "CLSID\\$CLSID\\InprocServer32" ThreadingModel Both
expect_value "CLSID\\$CLSID\\TypeLib" "" "$LIBID"
want_subkeys=$(printf '%s\n' InprocServer32 ProgID Programmable TypeLib VersionIndependentProgID)
[[ $(subkeys "CLSID\\$CLSID") == "$want_subkeys" ]] && pass "class key has exactly its five subkeys" ||
    fail "class key subkeys: $(subkeys "CLSID\\$CLSID" | tr '\n' ' ')"

# The type library's registration.
expect_value "TypeLib\\$LIBID\\1.0" "" "Orbalin 1.0 Type Library"
expect_value "TypeLib\\$LIBID\\1.0\\0\\$SYSKIND" "" "$dll"
expect_value "TypeLib\\$LIBID\\1.0\\HELPDIR" "" "$dll_dir"
[[ $(reg_value "TypeLib\\$LIBID\\1.0\\FLAGS" "") =~ ^[0-9]+$ ]] && pass "type library FLAGS" || fail "type library FLAGS"
expect_value "Interface\\$IID" "" "IOrbalinObj"
expect_value "Interface\\$IID\\TypeLib" "" "$LIBID"

once=$(registry_dump)
regsvr32 "$dll" || fail "second registration failed"
[[ $(registry_dump) == "$once" ]] && pass "registering twice = once" || fail "second registration changed the registry"

# A foreign subkey keeps the class key at unregistration ...
wine reg add "HKCR\\CLSID\\$CLSID\\Foreign" /ve /d kept /f >/dev/null 2>&1
if regsvr32 /u "$dll"; then pass "regsvr32 /u exit code 0"; else fail "regsvr32 /u failed"; fi
for key in Orbalin.OrbalinObj.1 Orbalin.OrbalinObj "CLSID\\$CLSID\\InprocServer32" "CLSID\\$CLSID\\ProgID" \
           "CLSID\\$CLSID\\Programmable" "TypeLib\\$LIBID" "Interface\\$IID"; do
    expect_absent "$key"
done
[[ $(subkeys "CLSID\\$CLSID") == Foreign ]] && pass "class key kept with the foreign subkey only" ||
    fail "class key after unregistration: $(subkeys "CLSID\\$CLSID" | tr '\n' ' ')"
if key_exists CLSID; then pass "CLSID kept"; else fail "CLSID removed"; fi

# ... until a new registration makes the class key anew.
regsvr32 "$dll" || fail "re-registration failed"
[[ $(registry_dump) == "$once" ]] && pass "re-registration drops the foreign subkey" || fail "re-registration differs"

# Unregistering a stray copy leaves the registered one alone.
mkdir -p "$work/stray"
cp "$ORBALIN_DLL" "$work/stray/Orbalin.dll"
if regsvr32 /u "$(winpath "$work/stray/Orbalin.dll")"; then pass "stray copy's regsvr32 /u exit code 0"
else fail "stray copy's regsvr32 /u failed"; fi
[[ $(registry_dump) == "$once" ]] && pass "stray copy's unregistration leaves the rows" ||
    fail "stray copy's unregistration changed the registry"
printf '%s\r\n' 'Set o = CreateObject("Orbalin.OrbalinObj")' 'WScript.Echo "created"' >"$work/create.vbs"
[[ $(wine cscript //nologo "$(winpath "$work/create.vbs")" 2>/dev/null | tr -d '\r') == created ]] &&
    pass "registered copy still creatable" || fail "registered copy no longer creatable"

regsvr32 /u "$dll" || fail "unregistration failed"
expect_absent "CLSID\\$CLSID"
gone=$(registry_dump)
if regsvr32 /u "$dll"; then pass "second unregistration exit code 0"; else fail "second unregistration failed"; fi
[[ $(registry_dump) == "$gone" ]] && pass "unregistering twice changes nothing" || fail "second unregistration changed the registry"

# A path the ANSI code page cannot carry exactly (a full-width letter, which
# best fit would turn into another folder's "L") fails and writes nothing.
wide=$work/t/$'\xef\xbc\xac'orvane
mkdir -p "$wide"
cp "$ORBALIN_DLL" "$wide/Orbalin.dll"
if regsvr32 "$(winpath "$wide/Orbalin.dll")"; then fail "regsvr32 registered a path it cannot carry"
else pass "regsvr32 refuses a path the code page cannot carry"; fi
[[ $(registry_dump) == "$gone" ]] && pass "the refused registration wrote nothing" || fail "the refused registration wrote rows"

finish
