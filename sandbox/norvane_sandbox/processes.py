"""Background processes of the stack: started and awaited on mirakuru executors, then tracked by
pid files in the state directory, since a later command (stop, status, pause) is another process
than the one whose executor started them.

A pid file is trusted only while the process it names (read with psutil) still carries the
expected marker on its command line, so a recycled pid is never signalled by mistake.
"""
from __future__ import annotations

import contextlib
import os
import signal
import socket
import subprocess
import time
import uuid
from pathlib import Path
from typing import Callable

import psutil
from mirakuru import SimpleExecutor, TCPExecutor
from mirakuru.exceptions import ProcessExitedWithError, TimeoutExpired

from .config import SandboxError

# How long a server may take from its launch to accepting connections.
START_TIMEOUT = 60.0


def _process(pid: int) -> psutil.Process | None:
    """The live process `pid` (our own child's exit status collected), or None."""
    try:
        process = psutil.Process(pid)
        if process.status() != psutil.STATUS_ZOMBIE:
            return process
    except psutil.Error:
        return None
    with contextlib.suppress(ChildProcessError):
        os.waitpid(pid, os.WNOHANG)
    return None


def command_line(pid: int) -> str:
    process = _process(pid)
    try:
        return " ".join(process.cmdline()) if process is not None else ""
    except psutil.Error:
        return ""


def is_stopped(pid: int) -> bool:
    """True if the process is stopped by a signal (SIGSTOP), as a paused service is."""
    process = _process(pid)
    try:
        return process is not None and process.status() in (psutil.STATUS_STOPPED, psutil.STATUS_TRACING_STOP)
    except psutil.Error:
        return False


def running_pid(pid_file: Path, marker: str) -> int | None:
    """The pid recorded in `pid_file` if that process is alive and is ours, else None."""
    try:
        pid = int(pid_file.read_text().strip())
    except (OSError, ValueError):
        return None
    if _process(pid) is None or marker not in command_line(pid):
        return None
    return pid


# Settings that instrument the process under test (./dev sanitize, -X dev runs); the stack's
# servers are not under test and run without them (an empty value is the same as none).
_INSTRUMENTATION = ("LD_PRELOAD", "ASAN_OPTIONS", "UBSAN_OPTIONS", "LSAN_OPTIONS", "PYTHONMALLOC",
                    "PYTHONDEVMODE")


def service_environment() -> dict[str, str]:
    return {key: value for key, value in os.environ.items() if key not in _INSTRUMENTATION}


class Server(TCPExecutor):
    """A server of the stack on a mirakuru executor: launched in a session of its own with its
    output in its log, then awaited until its port accepts connections, failing as soon as it
    exits. The stack outlives the command or test session that starts it, so a server does not
    carry the mark that mirakuru's clean-up at the starting interpreter's exit kills by (a value
    that begins with that interpreter's pid), nor is it killed when its executor is collected;
    a later command finds it by its pid file."""

    def __init__(self, args: list[str], host: str, port: int, log_file: Path, cwd: Path,
                 timeout: float = START_TIMEOUT):
        log_file.parent.mkdir(parents=True, exist_ok=True)
        self.log_file, self.start_timeout = log_file, timeout
        self._log = open(log_file, "ab")  # noqa: SIM115 - the server writes to it as long as it runs
        unset = {name: "" for name in _INSTRUMENTATION if os.environ.get(name)}
        super().__init__(args, host=host, port=port, cwd=str(cwd), timeout=timeout, sleep=0.1,
                         envvars=unset, stdin=subprocess.DEVNULL, stdout=self._log,
                         stderr=subprocess.STDOUT)
        self._uuid = f"norvane-stack:{uuid.uuid4()}"

    def __del__(self) -> None:
        pass

    def launch(self, pid_file: Path) -> int:
        """Start the process without waiting for it; its pid goes to `pid_file`."""
        try:
            SimpleExecutor.start(self)
        finally:
            self._log.close()  # the server holds its own copy
        pid_file.write_text(f"{self.process.pid}\n")
        return self.process.pid

    def wait(self, what: str) -> None:
        """Until the port accepts connections; a server that exits or does not open its port in
        time is reported with the last lines of its log (one that does not is killed)."""
        try:
            self.wait_for(self.check_subprocess)
        except ProcessExitedWithError:
            raise SandboxError(f"{what} exited during start-up; last lines of {self.log_file}:\n"
                               f"{log_tail(self.log_file)}") from None
        except TimeoutExpired:
            raise SandboxError(f"{what} did not open its port within {self.start_timeout:.0f}s; last lines of "
                               f"{self.log_file}:\n{log_tail(self.log_file)}") from None


def _gone(pid: int, seconds: float) -> bool:
    """Whether `pid` ends within `seconds`. A zombie counts as gone: a server exits as a zombie
    until the process that started it, maybe another test session, collects it."""
    deadline = time.monotonic() + seconds
    while _process(pid) is not None:
        if time.monotonic() > deadline:
            return False
        time.sleep(0.05)
    return True


def terminate(pid_file: Path, marker: str, timeout: float = 15.0) -> bool:
    """Stop the process named by `pid_file` (SIGTERM, then SIGKILL after `timeout`). True if one
    was running. The process may have been started by another command, so it is found by its pid
    file rather than by the executor that started it."""
    pid = running_pid(pid_file, marker)
    if pid is None:
        pid_file.unlink(missing_ok=True)
        return False
    with contextlib.suppress(ProcessLookupError):
        os.kill(pid, signal.SIGTERM)
        if not _gone(pid, timeout):
            os.kill(pid, signal.SIGKILL)
            _gone(pid, 5.0)
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
    """Poll `ready` until it holds (a server resumed, or one whose port opened before it
    answers); fail early with the log tail if the process dies."""
    deadline = time.monotonic() + timeout
    while True:
        try:
            if ready():
                return
        except Exception:  # noqa: BLE001 - any failure just means "not ready yet"
            pass
        if not alive():
            raise SandboxError(f"{what} exited during start-up; last lines of {log_file}:\n"
                               f"{log_tail(log_file)}")
        if time.monotonic() > deadline:
            raise SandboxError(f"{what} did not answer within {timeout:.0f}s; last lines of "
                               f"{log_file}:\n{log_tail(log_file)}")
        time.sleep(0.1)
