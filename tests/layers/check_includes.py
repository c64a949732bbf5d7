#!/usr/bin/env python3
"""Fails when a source file includes what its layer may not use.

Usage: check_includes.py ROOT. Prints one line per forbidden include and
exits with 1 when there is any. docs/architecture.md explains the floors.
"""

import os
import re
import sys

# What each area may include, by area. An area not listed is not checked
# (the tests and the benchmarks use whatever they exercise).
MAY_INCLUDE = {
    "ports": {"ports"},
    "base": {"ports", "base"},
    "cloud": {"ports", "base", "cloud"},
    "connections": {"ports", "base", "cloud", "connections"},
    # The user interface names its templates and controls by the resource ids.
    "ui": {"ports", "base", "cloud", "connections", "ui", "resources"},
    "app": {"ports", "base", "cloud", "connections", "ui", "resources", "app"},
    # Adapters: the ports and the floor, never each other.
    "posix": {"ports", "base", "posix", "resources"},
    "win32": {"ports", "base", "win32"},
    # The desktop host is the POSIX adapters with a desktop's windows and tray.
    "gtk": {"ports", "base", "posix", "resources", "gtk"},
    "fakes": {"ports", "base", "fakes"},
    # The resource-script reader knows the window-style numbers of the ports.
    "resources": {"ports", "resources"},
    # The entry points join one platform's adapters to the core.
    "posix-entry": {"ports", "base", "cloud", "connections", "ui", "resources", "app", "posix"},
    "win32-entry": {"ports", "base", "cloud", "connections", "ui", "resources", "app", "win32"},
    "gtk-entry": {"ports", "base", "cloud", "connections", "ui", "resources", "app", "posix", "gtk"},
}
# devcloud is the agent's peer, not a part of it: it includes nothing of the agent.
MAY_INCLUDE["devcloud"] = {"devcloud"}

# The core is portable: beside itself it includes the C++ standard library
# (names without an extension or a folder) and cJSON, never a platform header.
CORE = {"ports", "base", "cloud", "connections", "ui", "app"}
CORE_SYSTEM_HEADERS = re.compile(r"^[a-z_]+$|^cjson/cJSON\.h$")

SOURCE_SUFFIXES = (".h", ".hpp", ".cpp", ".cc")
INCLUDE = re.compile(r'^\s*#\s*include\s*([<"])([^>"]+)[>"]')


def area(path):
    """The area of a root-relative path, or None when it is not checked."""
    parts = path.split("/")
    if parts[0] == "platform":
        if len(parts) == 2:
            return "ports"
        if parts[1] not in ("posix", "win32", "gtk"):
            return None
        return parts[1] + "-entry" if parts[2] == "main.cpp" else parts[1]
    if parts[:2] == ["tests", "fakes"]:
        return "fakes"
    return parts[0] if parts[0] in MAY_INCLUDE else None


def resolve(root, including, name):
    """The root-relative path a quoted include names, or None."""
    for folder in ("", os.path.dirname(including), "tests"):
        candidate = os.path.normpath(os.path.join(folder, name))
        if os.path.isfile(os.path.join(root, candidate)):
            return candidate.replace(os.sep, "/")
    return None


def faults_of(root, path):
    own = area(path)
    with open(os.path.join(root, path), encoding="utf-8", errors="replace") as source:
        for number, line in enumerate(source, 1):
            match = INCLUDE.match(line)
            if not match:
                continue
            kind, name = match.groups()
            where = f"{path}:{number}: "
            if kind == "<":
                if own in CORE and not CORE_SYSTEM_HEADERS.match(name):
                    yield where + f"<{name}> is a platform header, which the core may not use"
                continue
            target = resolve(root, path, name)
            if target is None:
                yield where + f'"{name}" is not a file of the tree'
            elif area(target) not in MAY_INCLUDE[own]:
                yield where + f'"{name}" belongs to {area(target) or "the tests"}, which {own} may not use'


def main():
    root = sys.argv[1]
    faults = []
    for folder, _, names in os.walk(root):
        relative = os.path.relpath(folder, root).replace(os.sep, "/")
        if relative.split("/")[0] in ("build", ".git"):
            continue
        for name in sorted(names):
            path = name if relative == "." else f"{relative}/{name}"
            if name.endswith(SOURCE_SUFFIXES) and area(path) is not None:
                faults.extend(faults_of(root, path))
    for fault in faults:
        print(fault)
    return 1 if faults else 0


if __name__ == "__main__":
    sys.exit(main())
