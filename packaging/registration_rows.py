#!/usr/bin/env python3
"""Writes the installer's registry rows for one Orbalin.dll as a WiX include.

The rows come from the same files the DLL is built from, so an installed
server and a self-registered one cannot disagree:
  - the configured registration script (REGISTRY 101), read the way the
    server's own interpreter reads it, with %MODULE% standing for the file;
  - the configured IDL, the source of the type library (TYPELIB 1), for the
    keys RegisterTypeLib writes: TypeLib\\{LIBID}\\<version> and
    Interface\\{IID} for each dual or oleautomation interface.

The script's unregistration rules become the installer's: a key marked
NoRemove is never owned (it gets no row of its own and is left at
uninstall); keys the script owns get a "*" row on the topmost owned key of
each branch and on keys that carry no value, so uninstall deletes them whole.
"""

import argparse
import re
import sys
from xml.sax.saxutils import quoteattr

# Automation's own proxy for dual and oleautomation interfaces (PSOAInterface).
AUTOMATION_PROXY = "{00020424-0000-0000-C000-000000000046}"

ROOTS = {
    "HKCR": "HKCR", "HKEY_CLASSES_ROOT": "HKCR",
    "HKCU": "HKCU", "HKEY_CURRENT_USER": "HKCU",
    "HKLM": "HKLM", "HKEY_LOCAL_MACHINE": "HKLM",
    "HKU": "HKU", "HKEY_USERS": "HKU",
}
MARKS = {"forceremove", "noremove", "delete"}


class ScriptError(Exception):
    pass


class Rows:
    """Registry rows in the order they were made, without duplicates."""

    def __init__(self):
        self.rows = []

    def add(self, root, key, name, kind, value):
        row = (root, key, name, kind, value)
        if row not in self.rows:
            self.rows.append(row)

    def keys_with_values(self):
        return {(r[0], r[1]) for r in self.rows if r[2] != "*"}


def tokens(text):
    """Splits script text the way the interpreter does: quoted tokens with
    doubled quotes inside, else runs of non-blank characters."""
    pos, out = 0, []
    while True:
        while pos < len(text) and text[pos] in " \t\r\n":
            pos += 1
        if pos >= len(text):
            return out
        if text[pos] == "'":
            value, pos = [], pos + 1
            while True:
                end = text.find("'", pos)
                if end < 0:
                    raise ScriptError("unterminated quoted token")
                value.append(text[pos:end])
                if text.startswith("''", end):
                    value.append("'")
                    pos = end + 2
                    continue
                pos = end + 1
                break
            out.append(("quoted", "".join(value)))
        else:
            end = pos
            while end < len(text) and text[end] not in " \t\r\n":
                end += 1
            out.append(("plain", text[pos:end]))
            pos = end


def formatted(text, module):
    """A script value as an MSI formatted string: brackets escaped, a
    leading '#' kept literal, %MODULE% replaced by the file's reference."""
    out, pos = [], 0
    while pos < len(text):
        c = text[pos]
        if c == "%":
            end = text.find("%", pos + 1)
            if end < 0:
                raise ScriptError("'%' without a closing one")
            name = text[pos + 1:end]
            if name == "":
                out.append("%")
            elif name.lower() == "module":
                out.append(module)
            else:
                raise ScriptError(f"unknown replacement %{name}%")
            pos = end + 1
            continue
        out.append({"[": "[\\[]", "]": "[\\]]"}.get(c, c))
        pos += 1
    value = "".join(out)
    return "#" + value if value.startswith("#") else value


def typed_value(kind, text, module):
    kind = kind.lower()
    if kind == "s":
        return "string", formatted(text, module)
    if kind == "d":
        if not text.isdigit():
            raise ScriptError(f"not a decimal number: {text}")
        return "integer", text
    if kind == "b":
        if len(text) % 2 or not re.fullmatch(r"[0-9A-Fa-f]*", text):
            raise ScriptError(f"not hexadecimal bytes: {text}")
        return "binary", text
    raise ScriptError(f"unknown value type {kind}")


def script_rows(text, module, rows):
    """Register-mode walk of the script, recording rows instead of writing."""
    toks = tokens(text)
    at = 0

    def take():
        nonlocal at
        if at >= len(toks):
            raise ScriptError("script ends where a token is needed")
        at += 1
        return toks[at - 1]

    def peek(word):
        return at < len(toks) and toks[at][1] == word

    owned_tops = []   # topmost keys each branch owns
    valueless = []    # owned keys that get no value

    def block(root, path, owned):
        while True:
            kind, tok = take()
            if kind == "plain" and tok.startswith("}"):
                return
            marks = set()
            while kind == "plain" and tok.lower() in MARKS:
                marks.add(tok.lower())
                kind, tok = take()
            if "delete" in marks:
                raise ScriptError("Delete entries have no installer equivalent")
            if kind == "plain" and tok.lower() == "val":
                _, name = take()
                if take()[1] != "=":
                    raise ScriptError(f"val {name} without '='")
                vkind, vtext = take()[1], take()[1]
                rows.add(root, "\\".join(path), name, *typed_value(vkind, vtext, module))
                continue
            if "\\" in tok:
                raise ScriptError(f"key name with a backslash: {tok}")
            key = path + [tok]
            key_owned = "noremove" not in marks
            if key_owned and not owned:
                owned_tops.append((root, "\\".join(key)))
            if key_owned and "forceremove" in marks:
                owned_tops.append((root, "\\".join(key)))
            if peek("="):
                take()
                vkind, vtext = take()[1], take()[1]
                rows.add(root, "\\".join(key), "", *typed_value(vkind, vtext, module))
            elif key_owned:
                valueless.append((root, "\\".join(key)))
            if peek("{"):
                take()
                block(root, key, key_owned)

    while at < len(toks):
        _, name = take()
        root = ROOTS.get(name.upper())
        if root is None:
            raise ScriptError(f"unknown root key {name}")
        if not take()[1].startswith("{"):
            raise ScriptError("missing '{' after the root key")
        block(root, [], False)

    written = rows.keys_with_values()
    for root, key in owned_tops + valueless:
        has_descendant_value = any(r == root and (k == key or k.startswith(key + "\\"))
                                   for r, k in written)
        if (root, key) in owned_tops or not has_descendant_value:
            rows.add(root, key, "*", "string", "")


def idl_attributes(block):
    return {m.group(1): m.group(2) for m in
            re.finditer(r"\b(\w+)\s*(?:\(\s*\"?([^\")]*)\"?\s*\))?", block)}


def type_library_rows(idl, syskind, file_ref, dir_ref, rows):
    """The keys RegisterTypeLib writes for the library and its interfaces."""
    idl = re.sub(r"//[^\n]*", "", idl)
    declarations = list(re.finditer(r"\[([^\[\]]*)\]\s*(library|interface)\s+(\w+)", idl))
    library = next((d for d in declarations if d.group(2) == "library"), None)
    if library is None:
        raise ScriptError("the IDL declares no library")
    attrs = idl_attributes(library.group(1))
    libid = "{" + attrs["uuid"].upper() + "}"
    version = attrs.get("version") or "0.0"
    if "." not in version:
        version += ".0"
    lcid = format(int(attrs.get("lcid") or "0", 0), "x")
    flags = (1 if "restricted" in attrs else 0) | (2 if "control" in attrs else 0) \
        | (4 if "hidden" in attrs else 0)

    base = f"TypeLib\\{libid}\\{version}"
    rows.add("HKCR", f"TypeLib\\{libid}", "*", "string", "")
    rows.add("HKCR", base, "", "string", attrs.get("helpstring") or library.group(3))
    rows.add("HKCR", f"{base}\\FLAGS", "", "string", str(flags))
    rows.add("HKCR", f"{base}\\{lcid}\\{syskind}", "", "string", file_ref)
    rows.add("HKCR", f"{base}\\HELPDIR", "", "string", dir_ref)

    for d in declarations:
        if d.group(2) != "interface":
            continue
        iattrs = idl_attributes(d.group(1))
        if "dual" not in iattrs and "oleautomation" not in iattrs:
            continue
        key = "Interface\\{" + iattrs["uuid"].upper() + "}"
        rows.add("HKCR", key, "*", "string", "")
        rows.add("HKCR", key, "", "string", d.group(3))
        rows.add("HKCR", f"{key}\\ProxyStubClsid", "", "string", AUTOMATION_PROXY)
        rows.add("HKCR", f"{key}\\ProxyStubClsid32", "", "string", AUTOMATION_PROXY)
        rows.add("HKCR", f"{key}\\TypeLib", "", "string", libid)
        rows.add("HKCR", f"{key}\\TypeLib", "Version", "string", version)


def wix_include(rows):
    lines = ['<?xml version="1.0" encoding="utf-8"?>',
             "<!-- Generated from the registration script and the IDL; do not edit. -->",
             "<Include>"]
    for root, key, name, kind, value in rows.rows:
        name_attr = f" Name={quoteattr(name)}" if name else ""
        lines.append(f"  <RegistryValue Root=\"{root}\" Key={quoteattr(key)}{name_attr}"
                     f" Type=\"{kind}\" Value={quoteattr(value)}/>")
    lines.append("</Include>")
    return "\r\n".join(lines) + "\r\n"


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--script", required=True, help="configured Orbalin.rgs")
    parser.add_argument("--idl", required=True, help="configured Orbalin.idl")
    parser.add_argument("--syskind", required=True, choices=["win32", "win64"])
    parser.add_argument("--file-id", required=True, help="WiX File Id of the DLL")
    parser.add_argument("--dir-id", required=True, help="WiX Directory Id of the DLL's folder")
    parser.add_argument("--output", required=True)
    args = parser.parse_args()

    file_ref, dir_ref = f"[#{args.file_id}]", f"[{args.dir_id}]"
    rows = Rows()
    try:
        with open(args.script, encoding="cp1252") as f:
            script_rows(f.read(), file_ref, rows)
        with open(args.idl, encoding="utf-8") as f:
            type_library_rows(f.read(), args.syskind, file_ref, dir_ref, rows)
    except (ScriptError, KeyError) as e:
        sys.exit(f"registration_rows: {e}")
    with open(args.output, "w", encoding="utf-8", newline="") as f:
        f.write(wix_include(rows))


if __name__ == "__main__":
    main()
