#!/usr/bin/env python3
"""Tests scripts/check-includes.py and the library layers of cmake/Velmira.cmake
on small fixture trees (never on the real tree, which must simply pass)."""
import os
import shutil
import subprocess
import sys
import tempfile

ROOT = os.path.abspath(sys.argv[1])
CHECK = os.path.join(ROOT, "scripts", "check-includes.py")
failures = []


def expect(cond, what):
    print(("ok   " if cond else "FAIL ") + what)
    if not cond:
        failures.append(what)


def write(path, text):
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "w") as f:
        f.write(text)


def fixture(folder, low_deps=""):
    write(os.path.join(folder, "CMakeLists.txt"), """cmake_minimum_required(VERSION 3.25)
project(fixture CXX)
add_library(velmira_common INTERFACE)
target_include_directories(velmira_common INTERFACE ${PROJECT_SOURCE_DIR}/src)
find_package(Python3 REQUIRED COMPONENTS Interpreter)
add_custom_target(velmira_check_includes ALL
  COMMAND ${Python3_EXECUTABLE} %s ${PROJECT_SOURCE_DIR})
include(%s)
velmira_library(vm_low src/low LAYER 0 %s)
velmira_library(vm_high src/high LAYER 10 DEPS vm_low)
velmira_library(vm_top src/top LAYER 20 DEPS vm_high)
""" % (CHECK, os.path.join(ROOT, "cmake", "Velmira.cmake"), low_deps))
    write(os.path.join(folder, "src/low/Low.h"), "#pragma once\ninline int Low() { return 1; }\n")
    write(os.path.join(folder, "src/low/Low.cpp"), '#include "low/Low.h"\nint LowValue() { return Low(); }\n')
    write(os.path.join(folder, "src/high/High.h"), '#pragma once\n#include "low/Low.h"\ninline int High() { return Low() + 1; }\n')
    write(os.path.join(folder, "src/high/High.cpp"), '#include "high/High.h"\nint HighValue() { return High(); }\n')
    # top uses low only through high: allowed, dependencies are transitive.
    write(os.path.join(folder, "src/top/Top.cpp"), '#include "high/High.h"\n#include "low/Low.h"\nint Top() { return High() + Low(); }\n')


def run(args, cwd=None):
    return subprocess.run(args, cwd=cwd, capture_output=True, text=True)


def main():
    r = run([sys.executable, CHECK, ROOT])
    expect(r.returncode == 0, "the real tree passes the check\n" + r.stdout)

    tmp = tempfile.mkdtemp(prefix="velmira_layers_")
    try:
        good = os.path.join(tmp, "good")
        fixture(good)
        r = run([sys.executable, CHECK, good])
        expect(r.returncode == 0, "a fixture that keeps to its layers passes\n" + r.stdout)

        bad = os.path.join(tmp, "bad")
        fixture(bad)
        write(os.path.join(bad, "src/low/Upward.cpp"), '#include "high/High.h"\nint Up() { return High(); }\n')
        r = run([sys.executable, CHECK, bad])
        expect(r.returncode == 1 and "src/low/Upward.cpp:1 includes high/High.h" in r.stdout,
               "an upward include fails the check and is named\n" + r.stdout)

        if shutil.which("cmake") and shutil.which("c++"):
            build = os.path.join(tmp, "build-good")
            r = run(["cmake", "-S", good, "-B", build])
            r2 = run(["cmake", "--build", build]) if r.returncode == 0 else r
            expect(r2.returncode == 0, "the fixture builds\n" + r.stdout + r.stderr + r2.stdout + r2.stderr)

            build = os.path.join(tmp, "build-bad")
            r = run(["cmake", "-S", bad, "-B", build])
            r2 = run(["cmake", "--build", build]) if r.returncode == 0 else r
            expect(r.returncode == 0 and r2.returncode != 0 and "Upward.cpp" in r2.stdout + r2.stderr,
                   "an upward include fails the build\n" + r2.stdout[-2000:])

            cyc = os.path.join(tmp, "cycle")
            fixture(cyc, low_deps="DEPS vm_high")
            r = run(["cmake", "-S", cyc, "-B", os.path.join(tmp, "build-cycle")])
            expect(r.returncode != 0 and "must be declared before" in r.stderr,
                   "a library using a higher one (a cycle) fails the configuration\n" + r.stderr[-2000:])

            cyc2 = os.path.join(tmp, "same-layer")
            fixture(cyc2)
            with open(os.path.join(cyc2, "CMakeLists.txt"), "a") as f:
                f.write("velmira_library(vm_side src/side LAYER 20 DEPS vm_top)\n")
            r = run(["cmake", "-S", cyc2, "-B", os.path.join(tmp, "build-same")])
            expect(r.returncode != 0 and "only use libraries on lower layers" in r.stderr,
                   "a library on the same layer as its dependency fails the configuration\n" + r.stderr[-2000:])
    finally:
        shutil.rmtree(tmp, ignore_errors=True)

    print("%d passed, %d failed" % (7 - len(failures), len(failures)))
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
