"""Compile every source file of the module on its own (syntax and types only, no code), as an
editor or clang-tidy reads it: each must include what it uses, whatever the unity build gathers
before it. Exits non-zero naming each file that does not compile alone.

    ./dev sources
"""
from __future__ import annotations

import os
import subprocess
import sys
import sysconfig
import time
from concurrent.futures import ThreadPoolExecutor
from pathlib import Path

import pybind11

REPO = Path(__file__).resolve().parent.parent
SOURCES = sorted((REPO / "src").rglob("*.cpp"))
# What CMakeLists.txt (and pybind11_add_module: hidden visibility) sets for the module's sources.
DEFINES = ["-DNORVANE_MODULE=Norvane", '-DNORVANE_VERSION="0"']
INCLUDES = [f"-I{REPO / 'src'}", f"-I{pybind11.get_include()}", f"-I{sysconfig.get_paths()['include']}"]


def command(source: Path) -> list[str]:
    return [os.environ.get("CXX", "g++"), "-std=c++17", "-fsyntax-only", "-fvisibility=hidden", "-Wall", "-Wextra",
            *DEFINES, *INCLUDES, str(source)]


def main() -> int:
    began = time.monotonic()
    with ThreadPoolExecutor(max_workers=os.cpu_count() or 2) as pool:
        results = list(pool.map(lambda source: (source, subprocess.run(command(source), capture_output=True, text=True)),
                                SOURCES))
    failed = [(source, result) for source, result in results if result.returncode != 0]
    for source, result in failed:
        print(f"{source.relative_to(REPO)} does not compile alone:\n{result.stderr.strip()}\n", file=sys.stderr)
    print(f"sources: {len(SOURCES) - len(failed)} of {len(SOURCES)} compile alone"
          f" ({time.monotonic() - began:.0f} s)")
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
