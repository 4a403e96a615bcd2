"""Background processes of the stack, tracked by pid files in the state directory.

A pid file is trusted only while the process it names still carries the expected
marker on its command line, so a recycled pid is never signalled by mistake.
"""
from __future__ import annotations

import os
import signal
import socket
import subprocess
import time
from pathlib import Path
from typing import Callable

from .config import SandboxError


def _reap(pid: int) -> None:
    """Collect the exit status if `pid` is our own child, so it does not linger as a zombie."""
    try:
        os.waitpid(pid, os.WNOHANG)
    except ChildProcessError:
        pass


def command_line(pid: int) -> str:
    try:
        raw = Path(f"/proc/{pid}/cmdline").read_bytes()
    except OSError:
        return ""
    return raw.replace(b"\0", b" ").decode(errors="replace")


def _process_state(pid: int) -> str:
    """The one-letter state in /proc/<pid>/stat ("Z" for a process that is gone)."""
    try:
        stat = Path(f"/proc/{pid}/stat").read_text()
    except OSError:
        return "Z"
    return stat.rsplit(")", 1)[-1].split()[0]


def is_stopped(pid: int) -> bool:
    """True if the process is stopped by a signal (SIGSTOP), as a paused service is."""
    return _process_state(pid) in ("T", "t")


def running_pid(pid_file: Path, marker: str) -> int | None:
    """The pid recorded in `pid_file` if that process is alive and is ours, else None."""
    try:
        pid = int(pid_file.read_text().strip())
    except (OSError, ValueError):
        return None
    _reap(pid)
    if _process_state(pid) == "Z" or marker not in command_line(pid):
        return None
    return pid


# Settings that instrument the process under test (./dev sanitize, -X dev runs); the stack's
# servers are not under test and run without them.
_INSTRUMENTATION = ("LD_PRELOAD", "ASAN_OPTIONS", "UBSAN_OPTIONS", "LSAN_OPTIONS", "PYTHONMALLOC",
                    "PYTHONDEVMODE")


def service_environment() -> dict[str, str]:
    return {key: value for key, value in os.environ.items() if key not in _INSTRUMENTATION}


def spawn(args: list[str], pid_file: Path, log_file: Path, cwd: Path) -> int:
    """Start `args` detached from our terminal and session; stdout and stderr go to `log_file`."""
    log_file.parent.mkdir(parents=True, exist_ok=True)
    with open(log_file, "ab") as log:
        process = subprocess.Popen(args, cwd=cwd, stdin=subprocess.DEVNULL, stdout=log,
                                   stderr=subprocess.STDOUT, start_new_session=True,
                                   env=service_environment())
    pid_file.write_text(f"{process.pid}\n")
    return process.pid


def terminate(pid_file: Path, marker: str, timeout: float = 15.0) -> bool:
    """Stop the process named by `pid_file` (SIGTERM, then SIGKILL). True if one was running."""
    pid = running_pid(pid_file, marker)
    if pid is None:
        pid_file.unlink(missing_ok=True)
        return False
    os.kill(pid, signal.SIGTERM)
    deadline = time.monotonic() + timeout
    while running_pid(pid_file, marker) is not None:
        if time.monotonic() > deadline:
            os.kill(pid, signal.SIGKILL)
            deadline = time.monotonic() + 5
        time.sleep(0.05)
    pid_file.unlink(missing_ok=True)
    return True


def port_open(host: str, port: int, timeout: float = 0.5) -> bool:
    try:
        with socket.create_connection((host, port), timeout=timeout):
            return True
    except OSError:
        return False


def log_tail(log_file: Path, lines: int = 15) -> str:
    try:
        return "\n".join(log_file.read_text(errors="replace").splitlines()[-lines:])
    except OSError:
        return "(no log written)"


def wait_until(ready: Callable[[], bool], alive: Callable[[], bool], what: str,
               log_file: Path, timeout: float = 60.0) -> None:
    """Poll `ready` until it holds; fail early with the log tail if the process dies. A daemon
    writes its pid file a moment after its launcher returns, so for the first seconds a missing
    process may still be on its way."""
    began = time.monotonic()
    deadline = began + timeout
    while True:
        try:
            if ready():
                return
        except Exception:  # noqa: BLE001 - any failure just means "not ready yet"
            pass
        if not alive() and time.monotonic() - began > 2.0:
            raise SandboxError(f"{what} exited during start-up; last lines of {log_file}:\n"
                               f"{log_tail(log_file)}")
        if time.monotonic() > deadline:
            raise SandboxError(f"{what} did not answer within {timeout:.0f}s; last lines of "
                               f"{log_file}:\n{log_tail(log_file)}")
        time.sleep(0.1)
