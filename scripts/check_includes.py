#!/usr/bin/env python3
"""Checks that #include lines follow the layers of docs/architecture.md.

The layers are the lines between "include-layers begin" and "include-layers
end" in docs/architecture.md, lowest first. A line names modules: a top
folder ("kernel") or a part of the library ("corvan/link"). A module may
include its own headers and those of modules on lower lines, never those of a
module on its own line or above; parts are weighed against the parts of the
same folder, top folders against top folders. Tests, benchmarks, fuzz targets and test
support are not checked. Prints each offending line; exit status 1 if any.

usage: check_includes.py [source root]
"""
import os
import re
import sys

INCLUDE = re.compile(r'^\s*#\s*include\s*"([^"]+)"')
SKIPPED_DIRS = {"tests", "bench", "fuzz", "testing", "build", ".git"}
SOURCES = (".h", ".hpp", ".c", ".cc", ".cpp")


def read_layers(root):
    path = os.path.join(root, "docs", "architecture.md")
    with open(path, encoding="utf-8") as f:
        text = f.read()
    match = re.search(r"include-layers begin.*?\n```[a-z]*\n(.*?)```", text, re.S)
    if match is None:
        sys.exit(f"{path}: no include-layers block")
    level = {}
    for n, line in enumerate(l for l in match.group(1).splitlines() if l.strip()):
        for module in line.split():
            level[module] = n
    return level


def module_of_file(relpath, level):
    """The module a source file belongs to: its corvan part or top folder."""
    parts = relpath.split("/")
    if len(parts) >= 3 and f"{parts[0]}/{parts[1]}" in level:
        return f"{parts[0]}/{parts[1]}"
    return parts[0] if parts[0] in level else None


def module_of_include(name, owner, level):
    """The module an include names, seen from a file of module `owner`."""
    parts = name.split("/")
    if len(parts) < 2:
        return None
    top = owner.split("/")[0]
    # Inside a top folder, "link/x.h" names its part "corvan/link".
    if f"{top}/{parts[0]}" in level:
        return f"{top}/{parts[0]}"
    if parts[0] in level:
        return parts[0]
    return None


def main():
    root = os.path.abspath(sys.argv[1] if len(sys.argv) > 1 else ".")
    level = read_layers(root)
    faults = []
    for directory, dirs, files in os.walk(root):
        dirs[:] = sorted(d for d in dirs if d not in SKIPPED_DIRS)
        for name in sorted(files):
            if not name.endswith(SOURCES):
                continue
            path = os.path.join(directory, name)
            rel = os.path.relpath(path, root).replace(os.sep, "/")
            owner = module_of_file(rel, level)
            if owner is None:
                continue
            with open(path, encoding="utf-8", errors="replace") as f:
                for number, line in enumerate(f, 1):
                    m = INCLUDE.match(line)
                    if not m:
                        continue
                    target = module_of_include(m.group(1), owner, level)
                    if target is None or target == owner:
                        continue
                    owner_top, target_top = owner.split("/")[0], target.split("/")[0]
                    if owner_top != target_top:
                        above = level[target_top] >= level[owner_top]
                    elif "/" in owner and "/" in target:
                        above = level[target] >= level[owner]
                    else:
                        continue  # a folder's own shared headers, or its parts from its root
                    if above:
                        faults.append(f"{rel}:{number}: {owner} includes {target} "
                                      f"(\"{m.group(1)}\"), which is not below it")
    for fault in faults:
        print(fault)
    if faults:
        print(f"{len(faults)} include(s) against the layers of docs/architecture.md")
        return 1
    print(f"includes follow the layers ({len(level)} modules)")
    return 0


if __name__ == "__main__":
    sys.exit(main())
