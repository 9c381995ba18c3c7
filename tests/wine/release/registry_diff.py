#!/usr/bin/env python3
"""Compares two `reg export` snapshots (UTF-16) and prints what differs.

  registry_diff.py BEFORE AFTER     exit 0 when nothing was added or removed

A key that was empty before (no values, no subkeys) may be gone after:
Wine's msiexec prunes empty parent keys when it removes values, which on
Windows never applies to the shared keys involved. Wine's device keys,
which its display driver rewrites at every desktop start, are not compared.
Empty keys of Windows Installer's own database, which every Windows has
and Wine makes on the first msiexec run of a fresh prefix, are not ours.
"""

import sys

# Device keys Wine's display driver rewrites whenever a desktop starts.
VOLATILE = ("hkey_local_machine\\hardware\\",
            "hkey_local_machine\\system\\currentcontrolset\\control\\class\\",
            "hkey_local_machine\\system\\currentcontrolset\\control\\video\\")

# Windows Installer's bookkeeping; only new keys whose whole subtree holds
# no value are ignored below these.
INSTALLER_DATABASE = ("hkey_local_machine\\software\\classes\\installer",
                      "hkey_local_machine\\software\\microsoft\\windows\\currentversion\\installer")


def read_snapshot(path):
    """Returns {key: {value lines}} with key names compared case-blind."""
    keys, current = {}, None
    with open(path, encoding="utf-16") as f:
        text = f.read()
    # Values may continue over lines ending in a backslash.
    text = text.replace("\\\n  ", "")
    for line in text.splitlines():
        if line.startswith("[") and line.endswith("]"):
            current = line[1:-1].lower()
            if current.startswith(VOLATILE):
                current = None
                continue
            keys.setdefault(current, set())
        elif current is not None and line.strip():
            keys[current].add(line)
    return keys


def is_empty(keys, key):
    prefix = key + "\\"
    return not keys[key] and not any(k.startswith(prefix) for k in keys)


def holds_no_values(keys, key):
    prefix = key + "\\"
    return not any(keys[k] for k in keys if k == key or k.startswith(prefix))


def main():
    before, after = read_snapshot(sys.argv[1]), read_snapshot(sys.argv[2])
    problems = []
    for key in sorted(after.keys() - before.keys()):
        if key.startswith(INSTALLER_DATABASE) and holds_no_values(after, key):
            continue
        problems.append(f"left behind: [{key}]")
    for key in sorted(before.keys() - after.keys()):
        if not is_empty(before, key):
            problems.append(f"removed: [{key}]")
    for key in sorted(before.keys() & after.keys()):
        for line in sorted(after[key] - before[key]):
            problems.append(f"left behind: [{key}] {line}")
        for line in sorted(before[key] - after[key]):
            problems.append(f"removed or changed: [{key}] {line}")
    for p in problems:
        print(p)
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
