"""The interpreter matrix: the whole test suite under every supported CPython, each in its own
virtual environment under .nox/, against one local stack.

    nox                          every leg: tests-3.9 ... tests-3.15 (the newest dependencies each
                                 interpreter installs within pyproject's ranges) and oldest-3.9
                                 (the lowest version of each range, constraints/oldest.txt)
    nox -s oldest tests-3.15     CI's ends
    nox -s tests-3.12 -- --wheels -k upload
                                 after "--": --wheels installs dist/'s wheel (./dev wheels) instead
                                 of building one; everything else goes to pytest

`./dev matrix` runs it with the interpreters on PATH (tools/interpreters.py provides 3.14 and
3.15) and the stack started. A leg passes when its tests pass (at least one ran) and the clean
exit check (tests/clean_exit.py) exits 0 with nothing on stderr; each leg writes its row of the
table that `nox -s legs` prints.
"""
from __future__ import annotations

import json
import os
import subprocess
import sys
import xml.etree.ElementTree as ElementTree
from pathlib import Path

import nox

sys.path.insert(0, str(Path(__file__).resolve().parent / "tools"))
import stack_control  # noqa: E402
from interpreters import SUPPORTED, build_environment  # noqa: E402

REPO = Path(__file__).resolve().parent
LEGS = REPO / ".nox" / "legs"
# The stack's servers run from the environment that runs nox (./dev's), whatever the leg's
# interpreter: a leg gets the stack's pytest plugin and clients only.
STACK_PYTHON = sys.executable

nox.options.sessions = ["tests", "oldest"]
nox.options.reuse_existing_virtualenvs = True
nox.options.error_on_missing_interpreters = True


@nox.session(python=SUPPORTED)
def tests(session: nox.Session) -> None:
    """The suite with the newest dependencies this interpreter installs."""
    leg(session, "newest")


@nox.session(python=SUPPORTED[0])
def oldest(session: nox.Session) -> None:
    """The suite with the lowest version of every dependency range."""
    leg(session, "oldest")


@nox.session(python=False)
def legs(session: nox.Session) -> None:
    """The table of the legs run so far (each leg writes its row)."""
    rows = sorted((json.loads(path.read_text()) for path in LEGS.glob("*.json")),
                  key=lambda row: (tuple(map(int, row["python"].split("."))), row["leg"]))
    header = {"leg": "leg", "python": "interpreter", "pandas": "pandas", "numpy": "numpy",
              "passed": "passed", "failed": "failed", "skipped": "skipped", "exit": "clean exit"}
    table = [header, *rows]
    widths = {key: max(len(str(row[key])) for row in table) for key in header}
    for row in table:
        print(" | ".join(str(row[key]).ljust(widths[key]) for key in header))


def leg(session: nox.Session, dependencies: str) -> None:
    wheels = "--wheels" in session.posargs
    pytest_args = [arg for arg in session.posargs if arg != "--wheels"]
    wheel = dist_wheel(session) if wheels else build_wheel(session)
    pinned = ["-c", "constraints/oldest.txt"] if dependencies == "oldest" else []
    # The stack's package comes without its dependencies (its servers run from the environment
    # that runs nox), with what its pytest plugin and stack control import.
    session.install("--upgrade", "--upgrade-strategy", "eager", *pinned, wheel, "./velmora", "pytest",
                    *stack_control.requirements())
    # This wheel, even where one of the same version is installed.
    session.install("--force-reinstall", "--no-deps", wheel)
    session.install("--no-deps", "./sandbox")
    row = {"leg": session.name, "python": python_version(session), **library_versions(session)}

    started = start_stack(session)
    try:
        report = Path(session.create_tmp()) / "junit.xml"
        env = test_environment()
        session.run("python", "-m", "pytest", "-q", "-p", "no:cacheprovider", f"--junitxml={report}",
                    *pytest_args, env=env, success_codes=[0, 1])
        row.update(counts(report))
        row["exit"] = clean_exit(session, env)
    finally:
        if started:
            stack(session, "stop")
    LEGS.mkdir(parents=True, exist_ok=True)
    (LEGS / f"{session.name}.json").write_text(json.dumps(row))
    if row["failed"] or not row["passed"]:
        session.error(f"{row['failed']} failed, {row['passed']} passed")
    if row["exit"] != "0":
        session.error(f"the clean exit check ended with {row['exit']}")


def build_wheel(session: nox.Session) -> str:
    """The module built by this leg's interpreter."""
    session.install("scikit-build-core", "pybind11>=3.1,<4")
    out = Path(session.create_tmp()) / "wheel"
    for old in out.glob("*.whl"):
        old.unlink()
    python = Path(session.bin) / "python"
    session.run("python", "-m", "pip", "wheel", "-q", "--no-deps", "--no-build-isolation", "-w", str(out),
                "-C", f"build-dir={REPO / '.nox' / 'build' / session.python}", ".",
                env=build_environment(python))
    return str(next(out.glob("*.whl")))


def dist_wheel(session: nox.Session) -> str:
    tag = "cp" + str(session.python).replace(".", "")
    found = sorted((REPO / "dist").glob(f"norvane-*-{tag}-{tag}-*.whl"))
    if not found:
        session.error(f"no wheel for {tag} in dist/ (./dev wheels)")
    return str(found[-1])


def python_version(session: nox.Session) -> str:
    return session.run("python", "-c", "import platform; print(platform.python_version())",
                       silent=True).strip()


def library_versions(session: nox.Session) -> dict[str, str]:
    printed = session.run("python", "-c", "import pandas, numpy; print(pandas.__version__, numpy.__version__)",
                          silent=True)
    pandas, numpy = printed.split()[-2:]
    return {"pandas": pandas, "numpy": numpy}


def test_environment() -> dict[str, str]:
    return {"NORVANE_SANDBOX_PYTHON": STACK_PYTHON, "PYTHONPATH": None, "PYTHONHOME": None}


def counts(report: Path) -> dict[str, int]:
    suite = ElementTree.parse(report).getroot()
    suite = suite if suite.tag == "testsuite" else suite.find("testsuite")
    total, skipped = int(suite.get("tests")), int(suite.get("skipped"))
    failed = int(suite.get("failures")) + int(suite.get("errors"))
    return {"passed": total - skipped - failed, "failed": failed, "skipped": skipped}


def clean_exit(session: nox.Session, env: dict[str, str | None]) -> str:
    """A desk script's whole life under this interpreter: exit code 0 and nothing on stderr."""
    child_env = {key: value for key, value in os.environ.items() if key not in env}
    child_env.update({key: value for key, value in env.items() if value is not None})
    child_env["PYTHONPATH"] = str(REPO)
    done = subprocess.run([str(Path(session.bin) / "python"), str(REPO / "tests" / "clean_exit.py")],
                          cwd=REPO, env=child_env, capture_output=True, text=True)
    session.log(done.stdout.strip())
    if done.stderr:
        session.log("stderr: " + done.stderr.strip())
    return str(done.returncode) + (" (stderr)" if done.stderr else "")


def start_stack(session: nox.Session) -> bool:
    """Starts and seeds the stack unless it runs; True when this leg started it."""
    running = subprocess.run([STACK_PYTHON, "-m", "norvane_sandbox", "status"], cwd=REPO,
                             capture_output=True).returncode == 0
    stack(session, "start")
    stack(session, "seed")
    return not running


def stack(session: nox.Session, command: str) -> None:
    session.run(STACK_PYTHON, "-m", "norvane_sandbox", command, external=True, silent=True)
