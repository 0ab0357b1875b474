#!/usr/bin/env python3
"""Checks that headers are reached only through the links of the targets.

Every library has an include root of its own in the build tree
(cmake/IncludeRoots.cmake). This check fails when a compile command of the
build's database puts a folder of the source tree itself on the include path
(which would make every header below it reachable whatever the links say), or
when a source of the program's libraries includes a header of the project
without its folder ("TBitmap.h" instead of "analysis/TBitmap.h"), which the
compiler would find next to the including file, again past the links.

Usage: scripts/check-include-roots.py BUILD_DIR
"""
import json
import os
import re
import shlex
import subprocess
import sys


def include_dirs(command):
    words = shlex.split(command)
    for i, word in enumerate(words):
        for flag in ("-I", "-isystem", "-iquote", "-idirafter"):
            if word == flag and i + 1 < len(words):
                yield words[i + 1]
            elif word.startswith(flag) and len(word) > len(flag) and flag == "-I":
                yield word[len(flag):]


def main():
    build = os.path.realpath(sys.argv[1] if len(sys.argv) > 1 else "build")
    source = os.path.realpath(os.path.join(os.path.dirname(__file__), ".."))
    faults = set()
    for entry in json.load(open(os.path.join(build, "compile_commands.json"))):
        command = entry.get("command") or shlex.join(entry["arguments"])
        for folder in include_dirs(command):
            path = os.path.realpath(os.path.join(entry["directory"], folder))
            inside_source = path == source or path.startswith(source + os.sep)
            inside_build = path == build or path.startswith(build + os.sep)
            if inside_source and not inside_build:
                faults.add(f"{os.path.relpath(entry['file'], source)}: -I {path}")

    libraries = subprocess.run(["git", "ls-files", "*/CMakeLists.txt"], cwd=source,
                               capture_output=True, text=True, check=True).stdout.split()
    folders = {path.split("/")[0] for path in libraries if path.count("/") == 1}
    folders -= {"tests", "bench", "fuzz"}
    sources = subprocess.run(["git", "ls-files", "*.h", "*.cpp"], cwd=source,
                             capture_output=True, text=True, check=True).stdout.split()
    bare = re.compile(r'^\s*#\s*include\s+"([^"/]+)"')
    for path in sources:
        if path.split("/")[0] not in folders:
            continue
        with open(os.path.join(source, path), encoding="utf-8") as text:
            for number, line in enumerate(text, 1):
                match = bare.match(line)
                if match and not match.group(1).endswith(".moc"):
                    faults.add(f"{path}:{number}: #include \"{match.group(1)}\" without its folder")

    for fault in sorted(faults):
        print(fault, file=sys.stderr)
    if faults:
        print("Headers reachable past the links (see cmake/IncludeRoots.cmake)", file=sys.stderr)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
