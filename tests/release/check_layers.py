#!/usr/bin/env python3
"""Checks that every include of the product's code runs downward.

Each folder may include from itself and from the folders listed for it:
    app, uninstall  ->  install (app only), remove, payload, progman, base, resources
    install         ->  remove, payload, progman, base, resources
    remove          ->  payload, progman, base, resources
    payload, progman -> base, resources
    base            ->  resources
    resources       ->  nothing
Usage: check_layers.py SOURCE_DIR [FOLDER...]   (all product folders by default)
"""
import os
import re
import sys

BELOW = {
    "resources": set(),
    "base": {"resources"},
    "payload": {"base", "resources"},
    "progman": {"base", "resources"},
    "remove": {"payload", "progman", "base", "resources"},
    "install": {"remove", "payload", "progman", "base", "resources"},
    "uninstall": {"remove", "payload", "progman", "base", "resources"},
    "app": {"install", "remove", "payload", "progman", "base", "resources"},
}
INCLUDE = re.compile(r'^\s*#\s*include\s*"([^"]+)"', re.M)


def main():
    root = os.path.abspath(sys.argv[1])
    folders = sys.argv[2:] or sorted(BELOW)
    faults = []
    for folder in folders:
        for directory, _, names in os.walk(os.path.join(root, folder)):
            for name in sorted(names):
                if not name.endswith((".cpp", ".h", ".rc")):
                    continue
                path = os.path.join(directory, name)
                with open(path, encoding="latin-1") as source:
                    text = source.read()
                for included in INCLUDE.findall(text):
                    target = os.path.normpath(os.path.join(directory, included))
                    top = os.path.relpath(target, root).split(os.sep)[0]
                    if top != folder and top not in BELOW[folder]:
                        faults.append(f"{os.path.relpath(path, root)}: includes {included}"
                                      f" ({folder}/ may not use {top}/)")
    for fault in faults:
        print(fault)
    if faults:
        return 1
    print(f"layers: every include of {', '.join(folders)} runs downward")
    return 0


if __name__ == "__main__":
    sys.exit(main())
