"""Run the whole test suite against a build of the module instrumented with AddressSanitizer
and UndefinedBehaviorSanitizer, then once more under the interpreter's debug allocator in
development mode. Prints the figures and exits non-zero when a sanitizer report has a frame in
the module's own code, or when a test fails.

    ./dev sanitize                  both runs
    ./dev sanitize --sanitizers     only the instrumented build
    ./dev sanitize --debug-malloc   only PYTHONMALLOC=debug python -X dev
    Further arguments go to pytest.

The instrumented build lives in .sanitize/ with its own virtual environment (the development
environment's versions, constraints/dev.txt). The interpreter itself is not instrumented: the
sanitizer runtime is preloaded into it, PYTHONMALLOC=malloc routes every Python allocation
through it, and leaks are looked for only outside the interpreter's allocator
(tools/sanitizer-suppressions.txt, third-party frames only). Reports go to
.sanitize/reports/. Run it with the default environment's interpreter (./dev does).
"""
from __future__ import annotations

import argparse
import os
import re
import shutil
import subprocess
import sys
import time
from pathlib import Path

import stack_control

REPO = Path(__file__).resolve().parent.parent
WORK = REPO / ".sanitize"
REPORTS = WORK / "reports"
VENV_PYTHON = WORK / "venv" / "bin" / "python"
SUPPRESSIONS = REPO / "tools" / "sanitizer-suppressions.txt"
CONSTRAINTS = REPO / "constraints" / "dev.txt"
PIP = ["-m", "pip", "--disable-pip-version-check", "-q"]
OUR_FRAME = re.compile(rf"{re.escape(str(REPO / 'src'))}/|Norvane\.cpython-[^ )]*\.so")


def step(args: list, log: Path, **kwargs) -> None:
    with log.open("a") as out:
        out.write(f"$ {' '.join(map(str, args))}\n")
        out.flush()
        if subprocess.run([str(a) for a in args], stdout=out, stderr=subprocess.STDOUT, cwd=REPO,
                          **kwargs).returncode != 0:
            raise SystemExit(f"sanitize: step failed, see {log.relative_to(REPO)}: {' '.join(map(str, args))}")


def build(log: Path) -> None:
    """The instrumented module in its own environment, with the development versions."""
    if not VENV_PYTHON.exists():
        step([sys.executable, "-m", "venv", WORK / "venv"], log)
    pinned = ["-c", CONSTRAINTS]
    step([VENV_PYTHON, *PIP, "install", *pinned, "scikit-build-core", "pybind11", "pytest", "./velmora"], log)
    wheels = WORK / "wheel"
    shutil.rmtree(wheels, ignore_errors=True)
    step([VENV_PYTHON, *PIP, "wheel", "--no-deps", "--no-build-isolation", "-w", wheels,
          "-C", "cmake.define.NORVANE_SANITIZE=ON", "-C", "cmake.build-type=RelWithDebInfo",
          "-C", f"build-dir={WORK / 'build'}", "."], log)
    wheel = next(wheels.glob("*.whl"))
    step([VENV_PYTHON, *PIP, "install", *pinned, wheel], log)
    step([VENV_PYTHON, *PIP, "install", "--force-reinstall", "--no-deps", wheel], log)
    # The local stack's plugin and clients, and the executors it starts its servers with; the
    # servers run from the default environment.
    step([VENV_PYTHON, *PIP, "install", *pinned, *stack_control.requirements()], log)
    step([VENV_PYTHON, *PIP, "install", "--no-deps", "./sandbox"], log)


def runtime(name: str) -> str:
    path = subprocess.run(["gcc", f"-print-file-name={name}"], capture_output=True, text=True).stdout.strip()
    if not os.path.isabs(path):
        raise SystemExit(f"sanitize: gcc has no {name} (Debian: apt-get install gcc)")
    return path


def test_environment() -> dict[str, str]:
    env = {key: value for key, value in os.environ.items() if key not in ("PYTHONPATH", "VIRTUAL_ENV")}
    # The stack's own servers keep running from the default environment, uninstrumented.
    env["NORVANE_SANDBOX_PYTHON"] = sys.executable
    return env


def pytest_summary(output: str) -> dict[str, int]:
    lines = output.strip().splitlines()
    return {word: int(number) for number, word in re.findall(r"(\d+) (\w+)", lines[-1] if lines else "")}


def run_suite(python: Path, env: dict[str, str], log: Path, python_options: list[str],
              pytest_args: list[str]) -> tuple[dict[str, int], str]:
    """The suite's counts and everything it wrote. Output is captured at the level of sys only,
    so what the runtimes write to the stderr descriptor during a test reaches the log."""
    begin = time.monotonic()
    done = subprocess.run([python, *python_options, "-m", "pytest", "-q", "-p", "no:cacheprovider",
                           "--capture=sys", *pytest_args], cwd=REPO, env=env, capture_output=True, text=True)
    log.write_text(done.stdout + done.stderr)
    counts = pytest_summary(done.stdout)
    counts["exit"] = done.returncode
    counts["seconds"] = round(time.monotonic() - begin)
    return counts, done.stdout + done.stderr


REPORT_START = re.compile(r"(?m)^(?===\d+==ERROR|\S+:\d+:\d+: runtime error)")


def sanitizer_reports(output: str) -> list[str]:
    """Every report the runtimes wrote, one text each: AddressSanitizer's and LeakSanitizer's in
    the report files, UndefinedBehaviorSanitizer's on the processes' stderr."""
    texts = [path.read_text(errors="replace") for path in sorted(REPORTS.glob("*"))] + [output]
    reports = []
    for text in texts:
        # ASan and LSan reports begin with "==PID==ERROR"; UBSan's with "file:line:col: runtime error".
        starts = [match.start() for match in REPORT_START.finditer(text)] + [len(text)]
        reports += [text[begin:end] for begin, end in zip(starts, starts[1:])]
    return reports


def sanitizers(pytest_args: list[str]) -> bool:
    log = WORK / "build.log"
    log.write_text("")
    print("sanitize: building the instrumented module (log: .sanitize/build.log)", flush=True)
    build(log)
    shutil.rmtree(REPORTS, ignore_errors=True)
    REPORTS.mkdir(parents=True)
    env = test_environment()
    env.update({
        # The C++ runtime too: the sanitizer finds the real __cxa_throw only in libraries loaded
        # with it, and the interpreter itself is not a C++ program.
        "LD_PRELOAD": f"{runtime('libasan.so')} {runtime('libstdc++.so')}",
        "PYTHONMALLOC": "malloc",
        "ASAN_OPTIONS": ":".join([
            f"log_path={REPORTS / 'asan'}", "halt_on_error=0", "detect_leaks=1",
            # The interpreter was not built with the sanitizer: its own containers are not
            # annotated, and it catches its stack overflows itself.
            "detect_container_overflow=0", "detect_stack_use_after_return=0"]),
        "LSAN_OPTIONS": f"suppressions={SUPPRESSIONS}:print_suppressions=0",
        "UBSAN_OPTIONS": "print_stacktrace=1:halt_on_error=0",
    })
    print("sanitize: running the tests under AddressSanitizer and UndefinedBehaviorSanitizer "
          "(log: .sanitize/tests.log)", flush=True)
    counts, output = run_suite(VENV_PYTHON, env, WORK / "tests.log", [], pytest_args)
    reports = sanitizer_reports(output)
    ours = [report for report in reports if OUR_FRAME.search(report)]
    print(f"sanitize: {counts.get('passed', 0)} passed, {counts.get('failed', 0)} failed, "
          f"{counts.get('skipped', 0)} skipped in {counts['seconds']} s; {len(reports)} sanitizer "
          f"reports, {len(ours)} with a frame in the module's code")
    for report in ours[:5]:
        print(report[:4000])
    return not ours and counts["exit"] == 0


def debug_malloc(pytest_args: list[str]) -> bool:
    env = test_environment()
    env["PYTHONMALLOC"] = "debug"
    print("sanitize: running the tests with PYTHONMALLOC=debug python -X dev "
          "(log: .sanitize/debug-malloc.log)", flush=True)
    counts, _ = run_suite(Path(sys.executable), env, WORK / "debug-malloc.log", ["-X", "dev"], pytest_args)
    print(f"sanitize: {counts.get('passed', 0)} passed, {counts.get('failed', 0)} failed, "
          f"{counts.get('skipped', 0)} skipped in {counts['seconds']} s under the debug allocator")
    return counts["exit"] == 0


def main() -> int:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--sanitizers", action="store_true", help="only the instrumented build")
    parser.add_argument("--debug-malloc", action="store_true", help="only the debug allocator run")
    arguments, pytest_args = parser.parse_known_args()
    both = not (arguments.sanitizers or arguments.debug_malloc)
    WORK.mkdir(exist_ok=True)
    clean = True
    if both or arguments.sanitizers:
        clean = sanitizers(pytest_args) and clean
    if both or arguments.debug_malloc:
        clean = debug_malloc(pytest_args) and clean
    print("sanitize: " + ("clean" if clean else "FINDINGS or failures, see above"))
    return 0 if clean else 1


if __name__ == "__main__":
    sys.exit(main())
