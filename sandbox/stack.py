"""Starting, stopping and inspecting the whole local stack."""
from __future__ import annotations

import os
import shutil
import sys
import urllib.request
from dataclasses import dataclass
from pathlib import Path

from . import mariadb_server, redis_servers
from .config import PACKAGE_DIR, REPO_ROOT, Endpoints, SandboxError, endpoints, state_dir
from .processes import port_open, running_pid, spawn, terminate, wait_until

SCHEMA_FILE = PACKAGE_DIR / "schema" / "clickhouse.sql"
MARIADB_SCHEMA_FILE = PACKAGE_DIR / "schema" / "mariadb.sql"


def service_python() -> str:
    """The interpreter our own servers run under: $NORVANE_SANDBOX_PYTHON, else this one. Test
    runs under other interpreters (./dev matrix) keep the servers in the default environment,
    the one that has the ClickHouse engine installed."""
    return os.environ.get("NORVANE_SANDBOX_PYTHON") or sys.executable


@dataclass(frozen=True)
class PythonService:
    """One of our own servers, run as `python -m <module> --host H --port P ...`."""
    name: str
    module: str
    host: str
    port: int
    ping_path: str
    ping_answer: bytes
    data_dir: str | None = None  # name of its data directory inside the state directory

    def args(self, state: Path) -> list[str]:
        args = [service_python(), "-m", self.module, "--host", self.host, "--port", str(self.port)]
        if self.data_dir is not None:
            args += ["--data", str(state / self.data_dir)]
        return args

    @property
    def marker(self) -> str:
        return f"{self.module} --host {self.host} --port {self.port}"

    def files(self, state: Path) -> tuple[Path, Path]:
        return state / f"{self.name}.pid", state / f"{self.name}.log"

    def pid(self, state: Path) -> int | None:
        return running_pid(self.files(state)[0], self.marker)

    def answers(self) -> bool:
        url = f"http://{self.host}:{self.port}{self.ping_path}"
        with urllib.request.urlopen(url, timeout=1) as response:
            return response.status == 200 and self.ping_answer in response.read()


def python_services(where: Endpoints) -> list[PythonService]:
    return [
        PythonService("clickhouse-gateway", "sandbox.clickhouse_gateway", where.clickhouse_host,
                      where.clickhouse_port, "/ping", b"Ok.", data_dir="clickhouse"),
        PythonService("risk-simulator", "sandbox.risk_simulator", where.risk_host,
                      where.risk_port, "/ping", b'"ok": true'),
    ]


@dataclass(frozen=True)
class ServiceStatus:
    name: str
    address: str
    pid: int | None

    @property
    def running(self) -> bool:
        return self.pid is not None


def status() -> list[ServiceStatus]:
    where, state = endpoints(), state_dir()
    result = []
    for server in where.redis_servers():
        pid = running_pid(state / f"{server.name}.pid", f"{server.host}:{server.port}")
        result.append(ServiceStatus(server.name, f"{server.host}:{server.port}", pid))
    for service in python_services(where):
        result.append(ServiceStatus(service.name, f"{service.host}:{service.port}", service.pid(state)))
    result.append(ServiceStatus(mariadb_server.NAME, f"{where.mysql_host}:{where.mysql_port}",
                                mariadb_server.pid(where, state)))
    return result


def is_running() -> bool:
    return all(service.running for service in status())


def _start_python_service(service: PythonService, state: Path) -> bool:
    if service.pid(state) is not None:
        return False
    if port_open(service.host, service.port):
        raise SandboxError(f"{service.name}: {service.host}:{service.port} is already taken by a "
                           f"process this stack did not start")
    spawn(service.args(state), *service.files(state), cwd=REPO_ROOT)
    return True


def start() -> dict[str, str]:
    """Start every service not yet running, wait until all answer, then apply the schema.

    Returns each service's name mapped to "started" or "already running".
    """
    where, state = endpoints(), state_dir()
    state.mkdir(parents=True, exist_ok=True)
    report = {}
    for server in where.redis_servers():
        started = redis_servers.start(server, state)
        report[server.name] = "started" if started else "already running"
    services = python_services(where)
    for service in services:
        report[service.name] = "started" if _start_python_service(service, state) else "already running"
    started = mariadb_server.start(where, state)
    report[mariadb_server.NAME] = "started" if started else "already running"
    for service in services:
        wait_until(service.answers, lambda s=service: s.pid(state) is not None,
                   f"{service.name} ({service.host}:{service.port})", service.files(state)[1])
    wait_until(lambda: mariadb_server.answers(where),
               lambda: mariadb_server.pid(where, state) is not None,
               f"{mariadb_server.NAME} ({where.mysql_host}:{where.mysql_port})",
               mariadb_server.files(state)[1])
    apply_schema(where)
    apply_mariadb_schema(where)
    return report


def schema_statements(path: Path = SCHEMA_FILE) -> list[str]:
    """Statements of the schema file: full-line `--` comments dropped, split at each ';'."""
    lines = [line for line in path.read_text(encoding="utf-8").splitlines()
             if not line.lstrip().startswith("--")]
    return [statement.strip() for statement in "\n".join(lines).split(";") if statement.strip()]


def apply_schema(where: Endpoints | None = None) -> None:
    from .clients import clickhouse_client

    client = clickhouse_client(where=where)
    try:
        for statement in schema_statements():
            client.command(statement)
    finally:
        client.close()


def apply_mariadb_schema(where: Endpoints | None = None) -> None:
    connection = mariadb_server.connect(where or endpoints())
    try:
        with connection.cursor() as cursor:
            for statement in schema_statements(MARIADB_SCHEMA_FILE):
                cursor.execute(statement)
    finally:
        connection.close()


def stop() -> dict[str, str]:
    """Stop every service this stack started. Returns name -> "stopped" or "not running"."""
    where, state = endpoints(), state_dir()
    report = {}
    for service in python_services(where):
        pid_file, _ = service.files(state)
        report[service.name] = "stopped" if terminate(pid_file, service.marker) else "not running"
    report[mariadb_server.NAME] = "stopped" if mariadb_server.stop(where, state) else "not running"
    for server in where.redis_servers():
        report[server.name] = "stopped" if redis_servers.stop(server, state) else "not running"
    return report


def _looks_like_state_dir(path: Path) -> bool:
    where = endpoints()
    known = ({service.data_dir for service in python_services(where) if service.data_dir}
             | {server.name for server in where.redis_servers()} | {mariadb_server.DATA_DIR})
    return all(entry.name in known or entry.suffix in (".pid", ".log") for entry in path.iterdir())


def reset() -> Path:
    """Stop everything and delete the state directory (data, logs, pid files)."""
    stop()
    state = state_dir()
    if state.exists():
        if not _looks_like_state_dir(state):
            raise SandboxError(f"{state} holds files the stack did not write; not deleting it")
        shutil.rmtree(state)
    return state
