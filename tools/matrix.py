"""Build the module for every supported CPython on this machine and run the whole test suite
under each, against one shared local stack. Prints one table and exits non-zero when any leg
fails to build, fails a test, collects none, or does not exit cleanly.

    ./dev matrix                every supported interpreter found, plus the oldest dependencies
    ./dev matrix --ends         the oldest and the newest interpreter found, plus the oldest
                                dependencies on the oldest
    ./dev matrix --python 3.12  only the named minor versions (repeatable)
    ./dev matrix --dependencies oldest   only the oldest dependencies
    ./dev matrix --wheels       install the wheels of dist/ (./dev wheels) instead of building
    Further arguments go to pytest.

Each leg has its own virtual environment under .matrix/ with the newest dependencies its
interpreter can install within the ranges of pyproject.toml; the "oldest" leg installs
constraints/oldest.txt instead, the lowest version of each range. The module is built once per
interpreter (a wheel) and installed into each of its legs. The stack's own servers run from the
default environment (this interpreter), whatever interpreter the tests run under.
Run it with the default environment's interpreter (./dev does).
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
from dataclasses import dataclass, field
from pathlib import Path

REPO = Path(__file__).resolve().parent.parent
WORK = REPO / ".matrix"
SUPPORTED = ["3.9", "3.10", "3.11", "3.12", "3.13"]
OLDEST_CONSTRAINTS = REPO / "constraints" / "oldest.txt"
PIP = ["-m", "pip", "--disable-pip-version-check", "-q"]


@dataclass
class Leg:
    minor: str
    python: Path            # the base interpreter
    dependencies: str       # "newest" or "oldest"
    version: str = ""
    pandas: str = "-"
    numpy: str = "-"
    passed: int = 0
    failed: int = 0
    skipped: int = 0
    teardown: str = "-"
    problem: str = ""
    seconds: float = 0.0
    notes: list[str] = field(default_factory=list)

    @property
    def name(self) -> str:
        return f"{self.version}-{self.dependencies}"

    @property
    def venv(self) -> Path:
        return WORK / f"venv-{self.name}"

    @property
    def venv_python(self) -> Path:
        return self.venv / "bin" / "python"

    @property
    def ok(self) -> bool:
        return not self.problem and self.failed == 0 and self.passed > 0 and self.teardown == "0"


def version_key(path: str) -> tuple[int, ...]:
    return tuple(int(part) for part in re.findall(r"\d+", Path(path).name))


def find_interpreter(minor: str) -> Path | None:
    """The newest CPython `minor` under pyenv, else python<minor> on PATH."""
    pyenv_root = os.environ.get("PYENV_ROOT") or str(Path.home() / ".pyenv")
    installed = [p for p in glob.glob(f"{pyenv_root}/versions/{minor}.*")
                 if re.fullmatch(rf"{re.escape(minor)}\.\d+", Path(p).name)
                 and Path(p, "bin", "python").exists()]
    if installed:
        return Path(max(installed, key=version_key), "bin", "python")
    on_path = shutil.which(f"python{minor}")
    return Path(on_path) if on_path else None


def run(args: list, log: Path, **kwargs) -> subprocess.CompletedProcess:
    """Runs a command, appending its output to `log`."""
    with log.open("a") as out:
        out.write(f"$ {' '.join(map(str, args))}\n")
        out.flush()
        return subprocess.run([str(a) for a in args], stdout=out, stderr=subprocess.STDOUT,
                              cwd=REPO, **kwargs)


def make_venv(leg: Leg, log: Path) -> None:
    if not leg.venv_python.exists():
        if run([leg.python, "-m", "venv", "--clear", leg.venv], log).returncode != 0:
            raise RuntimeError("could not create the virtual environment")


def build_wheel(leg: Leg, log: Path) -> Path:
    """Builds the module with this leg's interpreter; returns the wheel."""
    wheels = WORK / "wheels" / leg.version
    shutil.rmtree(wheels, ignore_errors=True)
    steps = [
        [leg.venv_python, *PIP, "install", "--upgrade", "pip", "scikit-build-core", "pybind11"],
        [leg.venv_python, *PIP, "wheel", "--no-deps", "--no-build-isolation", "-w", wheels,
         "-C", f"build-dir={WORK / 'build' / leg.version}", "."],
    ]
    for step in steps:
        if run(step, log).returncode != 0:
            raise RuntimeError("the module did not build")
    return next(wheels.glob("*.whl"))


def dist_wheel(leg: Leg) -> Path:
    """The wheel ./dev wheels left in dist/ for this leg's interpreter."""
    tag = "cp" + leg.minor.replace(".", "")
    found = sorted((REPO / "dist").glob(f"norvane-*-{tag}-{tag}-*.whl"))
    if not found:
        raise RuntimeError(f"no wheel for {tag} in dist/ (./dev wheels)")
    return found[-1]


def install(leg: Leg, wheel: Path, log: Path) -> None:
    """The module with its dependencies, the risk platform stand-in, the test runner and the
    local stack's package for its pytest plugin and clients (without the engine: the stack's
    servers run from the default environment)."""
    pinned = ["-c", OLDEST_CONSTRAINTS] if leg.dependencies == "oldest" else []
    steps = [
        [leg.venv_python, *PIP, "install", "--upgrade", "--upgrade-strategy", "eager", *pinned,
         wheel, "./velmora", "pytest"],
        # The wheel just built, even where one of the same version is installed.
        [leg.venv_python, *PIP, "install", "--force-reinstall", "--no-deps", wheel],
        [leg.venv_python, *PIP, "install", "--no-deps", "./sandbox"],
    ]
    for step in steps:
        if run(step, log).returncode != 0:
            raise RuntimeError("the module or its dependencies did not install")
    versions = subprocess.run(
        [leg.venv_python, "-c", "import pandas, numpy; print(pandas.__version__, numpy.__version__)"],
        capture_output=True, text=True)
    if versions.returncode != 0:
        raise RuntimeError("pandas does not import: " + versions.stderr.strip().splitlines()[-1])
    leg.pandas, leg.numpy = versions.stdout.split()


def test_environment() -> dict[str, str]:
    env = {key: value for key, value in os.environ.items()
           if key not in ("PYTHONPATH", "VIRTUAL_ENV", "PYTHONHOME")}
    env["NORVANE_SANDBOX_PYTHON"] = sys.executable
    return env


def run_tests(leg: Leg, log: Path, pytest_args: list[str]) -> None:
    done = subprocess.run([leg.venv_python, "-m", "pytest", "-q", "-p", "no:cacheprovider", *pytest_args],
                          cwd=REPO, env=test_environment(), capture_output=True, text=True)
    with log.open("a") as out:
        out.write(done.stdout + done.stderr)
    summary = done.stdout.strip().splitlines()[-1] if done.stdout.strip() else ""
    counts = {word: int(number) for number, word in re.findall(r"(\d+) (\w+)", summary)}
    leg.passed = counts.get("passed", 0)
    leg.failed = counts.get("failed", 0) + counts.get("error", 0) + counts.get("errors", 0)
    leg.skipped = counts.get("skipped", 0)
    if done.returncode not in (0, 1):
        leg.problem = f"pytest exit {done.returncode}"


def run_teardown(leg: Leg, log: Path) -> None:
    env = {**test_environment(), "PYTHONPATH": str(REPO)}
    done = subprocess.run([leg.venv_python, REPO / "tests" / "clean_exit.py"], cwd=REPO, env=env,
                          capture_output=True, text=True)
    with log.open("a") as out:
        out.write(f"clean exit check: exit {done.returncode}\n{done.stdout}{done.stderr}")
    leg.teardown = str(done.returncode) + (" (stderr)" if done.stderr else "")


def choose_legs(arguments: argparse.Namespace) -> tuple[list[Leg], list[str]]:
    found = {minor: find_interpreter(minor) for minor in SUPPORTED}
    missing = [minor for minor, python in found.items() if python is None]
    present = [minor for minor in SUPPORTED if found[minor] is not None]
    if arguments.python:
        present = [minor for minor in present if minor in arguments.python]
    elif arguments.ends and present:
        present = sorted({present[0], present[-1]}, key=SUPPORTED.index)
    legs = []
    for minor in present:
        kinds = ["newest", "oldest"] if minor == SUPPORTED[0] else ["newest"]
        legs += [Leg(minor, found[minor], kind) for kind in kinds if arguments.dependencies in (kind, "all")]
    for leg in legs:
        leg.version = Path(leg.python).resolve().parent.parent.name
        if not re.fullmatch(r"\d+\.\d+\.\d+", leg.version):
            leg.version = subprocess.run([leg.python, "-c", "import platform; print(platform.python_version())"],
                                         capture_output=True, text=True).stdout.strip()
    return legs, missing


def start_stack() -> bool:
    """Starts and seeds the stack from this environment; True when this run started it."""
    was_running = subprocess.run([sys.executable, "-m", "norvane_sandbox", "status"], cwd=REPO,
                                 capture_output=True).returncode == 0
    for command in (["start"], ["seed"]):
        subprocess.run([sys.executable, "-m", "norvane_sandbox", *command], cwd=REPO, check=True,
                       stdout=subprocess.DEVNULL)
    return not was_running


def table(legs: list[Leg]) -> str:
    header = ["interpreter", "dependencies", "pandas", "numpy", "passed", "failed", "skipped",
              "teardown exit", "minutes"]
    rows = [[f"CPython {leg.version}", leg.dependencies, leg.pandas, leg.numpy, str(leg.passed),
             str(leg.failed), str(leg.skipped), leg.teardown, f"{leg.seconds / 60:.1f}"]
            for leg in legs]
    widths = [max(len(row[i]) for row in [header, *rows]) for i in range(len(header))]
    lines = [" | ".join(cell.ljust(width) for cell, width in zip(row, widths)) for row in [header, *rows]]
    lines.insert(1, "-+-".join("-" * width for width in widths))
    return "\n".join(lines)


def main() -> int:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--ends", action="store_true", help="only the oldest and the newest interpreter")
    parser.add_argument("--python", action="append", metavar="3.X", help="only this minor version")
    parser.add_argument("--dependencies", choices=["all", "newest", "oldest"], default="all",
                        help="which dependency sets (oldest: on the oldest interpreter only)")
    parser.add_argument("--wheels", action="store_true",
                        help="install the wheels of dist/ (./dev wheels) instead of building in each leg")
    arguments, pytest_args = parser.parse_known_args()
    legs, missing = choose_legs(arguments)
    for minor in missing:
        print(f"matrix: CPython {minor} not found on this machine (pyenv or python{minor} on PATH); skipped")
    if not legs:
        print("matrix: no supported interpreter found", file=sys.stderr)
        return 1
    WORK.mkdir(exist_ok=True)
    started = start_stack()
    wheels: dict[str, Path] = {}
    try:
        for leg in legs:
            begin = time.monotonic()
            log = WORK / f"{leg.name}.log"
            log.write_text("")
            print(f"matrix: CPython {leg.version}, {leg.dependencies} dependencies (log: {log.relative_to(REPO)})",
                  flush=True)
            try:
                make_venv(leg, log)
                if leg.version not in wheels:
                    wheels[leg.version] = dist_wheel(leg) if arguments.wheels else build_wheel(leg, log)
                install(leg, wheels[leg.version], log)
                run_tests(leg, log, pytest_args)
                run_teardown(leg, log)
            except RuntimeError as error:
                leg.problem = str(error)
            leg.seconds = time.monotonic() - begin
    finally:
        if started:
            subprocess.run([sys.executable, "-m", "norvane_sandbox", "stop"], cwd=REPO, stdout=subprocess.DEVNULL)
    print()
    print(table(legs))
    for leg in legs:
        if leg.problem:
            print(f"CPython {leg.version} ({leg.dependencies}): {leg.problem}; see .matrix/{leg.name}.log")
    failed = [leg for leg in legs if not leg.ok]
    print("matrix: " + ("every leg passed" if not failed else f"{len(failed)} of {len(legs)} legs failed"))
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
