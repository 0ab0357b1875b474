#!/usr/bin/env python3
"""Finds signal connections to a lambda without a context object.

QObject::connect(sender, signal, lambda) keeps calling the lambda after
whatever it captured is gone; connect(sender, signal, context, lambda) ends the
connection with the context. Every connection of a lambda names its context.
Reads the tracked C++ files; exits 1 and names each place when one is found.
"""
import re
import subprocess
import sys


def arguments(text, start):
    """The top-level arguments of the call whose '(' ends just before start."""
    depth, args = 1, [""]
    for c in text[start:]:
        if c in "([{":
            depth += 1
        elif c in ")]}":
            depth -= 1
            if depth == 0:
                break
        if depth == 1 and c == ",":
            args.append("")
        else:
            args[-1] += c
    return args


def main():
    files = subprocess.check_output(["git", "ls-files", "*.cpp", "*.h"], text=True).split()
    found = 0
    for name in files:
        with open(name, encoding="utf-8") as source:
            text = source.read()
        for call in re.finditer(r"\bconnect\(", text):
            args = arguments(text, call.end())
            if len(args) == 3 and args[2].strip().startswith("["):
                line = text.count("\n", 0, call.start()) + 1
                print(f"{name}:{line}: lambda connected without a context object")
                found += 1
    return 1 if found else 0


if __name__ == "__main__":
    sys.exit(main())
