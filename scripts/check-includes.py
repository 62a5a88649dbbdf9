#!/usr/bin/env python3
"""Checks that every file under src/ includes only headers of its own library
and of the libraries its library depends on (directly or through them).

The libraries, their folders and their dependencies are read from the
velmira_library(...) calls of PROJECT_ROOT/CMakeLists.txt, so the build and
this check can never disagree. Usage: check-includes.py PROJECT_ROOT
Exit status 1 (with one line per offending include) when an include goes
against the declared dependencies."""
import os
import re
import sys

CALL = re.compile(r"velmira_library\s*\(([^)]*)\)", re.S)
INCLUDE = re.compile(r'\s*#\s*include\s+"([^"]+)"')
KEYWORDS = {"LAYER", "DEPS", "PACKAGES", "RECURSE"}


def read_libraries(root):
    text = open(os.path.join(root, "CMakeLists.txt"), encoding="utf-8").read()
    text = re.sub(r"#[^\n]*", "", text)
    libs = {}
    for m in CALL.finditer(text):
        words = m.group(1).split()
        if len(words) < 2:
            continue
        name, folder = words[0], words[1].rstrip("/")
        deps, section = [], None
        for w in words[2:]:
            if w in KEYWORDS:
                section = w
            elif section == "DEPS":
                deps.append(w)
        libs[name] = {"dir": folder, "deps": deps}
    return libs


def closure(libs, name, seen=None):
    seen = set() if seen is None else seen
    for dep in libs.get(name, {}).get("deps", []):
        if dep not in seen:
            seen.add(dep)
            closure(libs, dep, seen)
    return seen


def library_of(libs, path):
    best, best_len = None, -1
    for name, lib in libs.items():
        d = lib["dir"] + "/"
        if path.startswith(d) and len(d) > best_len:
            best, best_len = name, len(d)
    return best


def check(root):
    libs = read_libraries(root)
    problems, checked = [], 0
    src = os.path.join(root, "src")
    for folder, _, files in os.walk(src):
        for f in sorted(files):
            if not f.endswith((".h", ".hpp", ".cpp", ".cc")):
                continue
            path = os.path.relpath(os.path.join(folder, f), root).replace(os.sep, "/")
            own = library_of(libs, path)
            if own is None:
                problems.append("%s: the folder belongs to no library" % path)
                continue
            allowed = closure(libs, own) | {own}
            with open(os.path.join(root, path), encoding="utf-8", errors="replace") as fh:
                for n, line in enumerate(fh, 1):
                    m = INCLUDE.match(line)
                    if not m or "/" not in m.group(1):
                        continue
                    checked += 1
                    target = library_of(libs, "src/" + m.group(1))
                    if target is None or target in allowed:
                        continue
                    problems.append("%s:%d includes %s of %s, which %s does not depend on"
                                    % (path, n, m.group(1), target, own))
    return problems, checked


def main():
    root = sys.argv[1] if len(sys.argv) > 1 else "."
    problems, checked = check(root)
    for p in problems:
        print(p)
    if problems:
        print("%d of %d includes go against the library dependencies" % (len(problems), checked))
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
