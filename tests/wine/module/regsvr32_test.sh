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

# --- DllInstall: regsvr32 /n /i:user registers for the current user alone,
# /i:machine (or no /i) as DllRegisterServer does.
script_keys=(Orbalin.OrbalinObj.1 Orbalin.OrbalinObj "CLSID\\$CLSID")
typelib_keys=("TypeLib\\$LIBID" "Interface\\$IID")
# The rows below KEY of a root (HKCR or the user's classes), named relative
# to that root, so that the two roots' rows compare line by line.
rows() {  # root key
    # reg reports a missing key on standard output.
    { wine reg query "$1\\$2" /s 2>/dev/null || true; } | tr -d '\r' | { grep -v '^reg: ' || true; } |
        sed -e 's|^HKEY_CLASSES_ROOT\\||' -e 's|^HKEY_CURRENT_USER\\Software\\Classes\\||'
}
user_classes='HKCU\Software\Classes'
# HKLM as text; the display adapter's DriverDateData is stamped anew by
# Wine's display driver in every process that starts, so it is left out.
hklm_snapshot() {
    wine reg export HKLM "$(winpath "$1.reg")" /y >/dev/null 2>&1
    iconv -f UTF-16 -t UTF-8 "$1.reg" | tr -d '\r' | grep -v '^"DriverDateData"=' >"$1"
}
# Keys of HKLM that differ between two snapshots (made, removed, or with
# other values), one a line.
hklm_changed_keys() {
    python3 - "$1" "$2" <<'PY'
import sys
def keys(path):
    found, key = {}, None
    for line in open(path, encoding="utf-8", errors="replace"):
        line = line.rstrip("\n")
        if line.startswith("["):
            key = line
            found[key] = []
        elif line and key:
            found[key].append(line)
    return found
before, after = keys(sys.argv[1]), keys(sys.argv[2])
for key in sorted(set(before) | set(after)):
    if sorted(before.get(key, ["(absent)"])) != sorted(after.get(key, ["(absent)"])):
        print(key)
PY
}

regsvr32 "$dll" || fail "machine registration for the comparison failed"
declare -A machine_rows
for key in "${script_keys[@]}" "${typelib_keys[@]}"; do machine_rows[$key]=$(rows HKCR "$key"); done
regsvr32 /u "$dll" || fail "unregistration after the comparison failed"

if regsvr32 /n /i:machine "$dll" && [[ $(registry_dump) == "$once" ]]; then pass "/n /i:machine registers as regsvr32 does"
else fail "/n /i:machine: the rows differ from regsvr32's"; fi
regsvr32 /u /n /i:machine "$dll" && [[ $(registry_dump) == "$gone" ]] && pass "/u /n /i:machine removes them" ||
    fail "/u /n /i:machine left rows"
if regsvr32 /n /i:somebody "$dll"; then fail "/i:somebody accepted"; else pass "/i:somebody refused"; fi
[[ $(registry_dump) == "$gone" ]] && pass "/i:somebody wrote nothing" || fail "/i:somebody wrote rows"

hklm_snapshot "$work/hklm-before"
WINEDEBUG=fixme+ole wine regsvr32 /s /n /i:user "$dll" >"$work/user.out" 2>&1 && pass "regsvr32 /n /i:user exit code 0" ||
    fail "regsvr32 /n /i:user failed: $(tr -d '\r' <"$work/user.out")"
hklm_snapshot "$work/hklm-user"
for key in "${script_keys[@]}"; do
    [[ -n ${machine_rows[$key]} && $(rows "$user_classes" "$key") == "${machine_rows[$key]}" ]] &&
        pass "per-user rows of $key match the machine-wide ones" ||
        fail "per-user rows of $key:"$'\n'"$(rows "$user_classes" "$key")"$'\n'"machine-wide:"$'\n'"${machine_rows[$key]}"
done
# Wine 8's RegisterTypeLibForUser registers the library machine-wide (it
# says so in a fixme line); Windows writes the same rows for the user.
wine_typelib=$(grep -q 'RegisterTypeLibForUser.*registering the typelib system-wide' "$work/user.out" && echo yes || true)
changed=$(hklm_changed_keys "$work/hklm-before" "$work/hklm-user")
# The type library's keys, in either registry view.
typelib_only=$(grep -iv -e "\\\\TypeLib\\\\$LIBID" -e "\\\\Interface\\\\$IID" <<<"$changed" || true)
for key in "${typelib_keys[@]}"; do
    user=$(rows "$user_classes" "$key")
    if [[ -n $user ]]; then
        [[ $user == "${machine_rows[$key]}" ]] && pass "per-user rows of $key match the machine-wide ones" ||
            fail "per-user rows of $key:"$'\n'"$user"
    elif [[ -n $wine_typelib && $(rows HKCR "$key") == "${machine_rows[$key]}" ]]; then
        echo "KNOWN WINE LIMIT: no $key under $user_classes: Wine 8's RegisterTypeLibForUser registers the library machine-wide (its fixme: \"registering the typelib system-wide\")"
    else
        fail "no per-user rows of $key"
    fi
done
if [[ -z $changed ]]; then
    pass "HKLM untouched by the per-user registration"
elif [[ -n $wine_typelib && -z $typelib_only ]]; then
    echo "KNOWN WINE LIMIT: the per-user registration changed HKLM only in the type library's keys (Wine's RegisterTypeLibForUser); nothing else under HKLM"
else
    fail "the per-user registration changed HKLM:"$'\n'"$changed"
fi
# Windows merges the user's classes into HKCR; Wine 8 does not, so a
# client of this user finds no class there.
POS_CLIENT=$LORVANE_BUILD_DIR/tests/wine/module/orbalin_pos_client.exe
activation=$(wine "$POS_CLIENT" Orbalin.OrbalinObj 0 --properties-only 2>&1 | tr -d '\r' || true)
if grep -q '^CheckStatus=0x00000000' <<<"$activation"; then
    pass "per-user registration: the object is created by its ProgID"
elif grep -qx 'CLSIDFromProgID failed 0x800401F3' <<<"$activation"; then
    echo "KNOWN WINE LIMIT: Wine 8 does not read HKCU\\Software\\Classes through HKCR (invalid class string 0x800401F3); per-user registration is checked by its rows, not by activation"
else
    fail "per-user activation: $activation"
fi

regsvr32 /u /n /i:user "$dll" && pass "regsvr32 /u /n /i:user exit code 0" || fail "regsvr32 /u /n /i:user failed"
left=
for key in "${script_keys[@]}" "${typelib_keys[@]}"; do [[ -n $(rows "$user_classes" "$key") ]] && left+=" $key"; done
[[ -z $left ]] && pass "/u /n /i:user leaves no per-user rows" || fail "per-user rows left:$left"
hklm_snapshot "$work/hklm-after"
changed=$(hklm_changed_keys "$work/hklm-before" "$work/hklm-after")
[[ -z $changed ]] && pass "HKLM after /u /n /i:user as before the per-user registration" ||
    fail "HKLM after /u /n /i:user:"$'\n'"$changed"

# Both at once: the machine-wide registration beside a per-user one.
regsvr32 "$dll" && regsvr32 /n /i:user "$dll" || fail "machine-wide and per-user registration"
[[ $(registry_dump) == "$once" ]] && pass "machine-wide rows unchanged beside the per-user ones" ||
    fail "machine-wide rows beside the per-user ones differ"
activation=$(wine "$POS_CLIENT" Orbalin.OrbalinObj 0 --properties-only 2>&1 | tr -d '\r' || true)
grep -q '^CheckStatus=0x00000000' <<<"$activation" && pass "machine-wide registration still creates the object" ||
    fail "machine-wide activation beside per-user: $activation"
regsvr32 /u /n /i:user "$dll" || fail "per-user unregistration beside the machine-wide one"
for key in "${script_keys[@]}"; do
    [[ $(rows HKCR "$key") == "${machine_rows[$key]}" ]] && pass "machine-wide $key kept after /u /n /i:user" ||
        fail "machine-wide $key after /u /n /i:user:"$'\n'"$(rows HKCR "$key")"
done
for key in "${typelib_keys[@]}"; do
    if [[ $(rows HKCR "$key") == "${machine_rows[$key]}" ]]; then
        pass "machine-wide $key kept after /u /n /i:user"
    elif [[ -n $wine_typelib && -z $(rows HKCR "$key") ]]; then
        echo "KNOWN WINE LIMIT: Wine 8's UnRegisterTypeLibForUser unregisters system-wide: machine-wide $key gone"
    else
        fail "machine-wide $key after /u /n /i:user:"$'\n'"$(rows HKCR "$key")"
    fi
done
regsvr32 /u "$dll" || fail "final unregistration"
[[ $(registry_dump) == "$gone" ]] && pass "nothing left machine-wide" || fail "rows left machine-wide"

finish
