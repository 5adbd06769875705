#!/usr/bin/env python3
"""Reads every #include of every source file of the tree and fails on one that points the wrong
way: a layer may include itself and the layers ALLOWED lists for it, and only the folders in
WINDOWS_HEADERS_ALLOWED may include the Windows API headers.

usage: check_layers.py SOURCE_DIR
Prints one line per offending include and exits 1 when there is any, 0 otherwise.
"""
import os
import re
import sys

# Layer -> the layers it may include besides itself. A layer is a top-level folder.
ALLOWED = {
    "platform": set(),
    "board": {"platform"},
    "link": {"board", "platform"},
    "emulator": {"board", "platform"},
    "ole": {"platform"},
    "control": {"board", "link", "ole", "platform"},
    # The emulated OCX's exports plug and unplug the emulated board.
    "module": {"control", "ole", "link", "board", "platform", "emulator"},
    "tools": {"link", "emulator", "board", "platform"},
    "installer": set(),
    "tests": "*",
    "bench": "*",
}

# Folders (and their subfolders) whose files may include the Windows API.
WINDOWS_HEADERS_ALLOWED = (
    "control/", "module/", "ole/", "platform/win32/", "tests/wine/", "tests/selftest/", "installer/",
    "bench/wine/",
)
WINDOWS_HEADERS = {
    "windows.h", "winbase.h", "windef.h", "winuser.h", "wingdi.h", "winreg.h", "winerror.h",
    "objbase.h", "ole2.h", "oleauto.h", "oleidl.h", "olectl.h", "oaidl.h", "ocidl.h", "unknwn.h",
    "dbt.h", "setupapi.h", "hidsdi.h", "hidpi.h", "hidclass.h", "sddl.h", "commctrl.h",
    "shellapi.h", "shlwapi.h",
}

SOURCE_SUFFIXES = (".cpp", ".h", ".hpp", ".c", ".rc", ".idl")
SKIPPED_FOLDERS = {"build", "dist", ".git", ".cache"}
INCLUDE = re.compile(r'^\s*#\s*include\s*([<"])([^>"]+)[>"]')


def layer_of(relative):
    return relative.split("/", 1)[0]


def sources(top):
    for folder, subfolders, files in os.walk(top):
        subfolders[:] = sorted(d for d in subfolders if d not in SKIPPED_FOLDERS)
        for name in sorted(files):
            if name.endswith(SOURCE_SUFFIXES):
                path = os.path.join(folder, name)
                yield os.path.relpath(path, top).replace(os.sep, "/")


def included_layer(top, relative, target):
    """The layer a quoted include names, or None for a file beside the includer."""
    beside = os.path.join(top, os.path.dirname(relative), target)
    if os.path.exists(beside) and "/" not in target:
        return None
    return layer_of(target)


def check(top):
    faults = []
    for relative in sources(top):
        layer = layer_of(relative)
        if layer not in ALLOWED:
            continue  # examples and the like: not part of any layer
        allowed = ALLOWED[layer]
        with open(os.path.join(top, relative), encoding="utf-8", errors="replace") as f:
            for number, line in enumerate(f, 1):
                match = INCLUDE.match(line)
                if not match:
                    continue
                kind, target = match.groups()
                where = f"{relative}:{number}: #include {kind}{target}{'>' if kind == '<' else kind}"
                if kind == "<":
                    if (target.lower() in WINDOWS_HEADERS
                            and not relative.startswith(WINDOWS_HEADERS_ALLOWED)):
                        faults.append(f"{where}: {layer}/ may not include the Windows API")
                    continue
                other = included_layer(top, relative, target)
                if other is None or other == layer or allowed == "*":
                    continue
                if other not in ALLOWED:
                    faults.append(f"{where}: {other}/ is not a layer")
                elif other not in allowed:
                    faults.append(f"{where}: {layer}/ may not depend on {other}/")
    return faults


def main():
    if len(sys.argv) != 2:
        print(__doc__.strip(), file=sys.stderr)
        return 2
    faults = check(sys.argv[1])
    for fault in faults:
        print(fault)
    if faults:
        print(f"check_layers: {len(faults)} include(s) against the layers")
        return 1
    print("check_layers: every include points down the layers")
    return 0


if __name__ == "__main__":
    sys.exit(main())
