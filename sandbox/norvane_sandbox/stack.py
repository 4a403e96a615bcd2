"""Starting, stopping, pausing and inspecting the services of the local stack."""
from __future__ import annotations

import os
import shutil
import signal
import sys
import urllib.request
from dataclasses import dataclass
from pathlib import Path

from . import mariadb_server, redis_servers
from .config import PACKAGE_DIR, WRITER, Endpoints, RedisServer, SandboxError, endpoints, state_dir
from .processes import Server, is_stopped, port_open, running_pid, terminate, wait_until

SCHEMA_FILE = PACKAGE_DIR / "schema" / "clickhouse.sql"
MARIADB_SCHEMA_FILE = PACKAGE_DIR / "schema" / "mariadb.sql"

# Short names a script or the command line may use for a service.
ALIASES = {"clickhouse": "clickhouse-gateway", "redis": "redis-test", "risk": "risk-simulator",
           "mysql": "mariadb"}


def service_python() -> str:
    """The interpreter our own servers run under: $NORVANE_SANDBOX_PYTHON, else this one. Test
    runs under other interpreters (./dev matrix) keep the servers in the default environment,
    the one that has the ClickHouse engine installed."""
    return os.environ.get("NORVANE_SANDBOX_PYTHON") or sys.executable


class Service:
    """One server of the stack. Subclasses say how it starts, stops and answers."""
    name: str
    host: str
    port: int
    started: Server | None = None  # the executor of a server this process has just launched

    @property
    def address(self) -> str:
        return f"{self.host}:{self.port}"

    def pid(self, state: Path) -> int | None:
        raise NotImplementedError

    def launch(self, state: Path) -> Server:
        """Start the process (the port is known to be free) and return its executor; answering
        comes later."""
        raise NotImplementedError

    def stop(self, state: Path) -> bool:
        raise NotImplementedError

    def answers(self) -> bool:
        """True if the service answers a request now (raising counts as no)."""
        raise NotImplementedError

    def log_file(self, state: Path) -> Path:
        return state / f"{self.name}.log"

    def start(self, state: Path) -> bool:
        """Start the service unless it runs; True if it was started now."""
        if self.pid(state) is not None:
            return False
        if port_open(self.host, self.port):
            raise SandboxError(f"{self.name}: {self.address} is already in use by a process this stack "
                               f"did not start; stop that process or point the stack elsewhere "
                               f"(NORVANE_*_HOST)")
        self.started = self.launch(state)
        return True

    def wait_until_answering(self, state: Path) -> None:
        """Until the service answers a request: one this process started first opens its port
        (its executor reports a server that exits meanwhile), then every one is asked."""
        what = f"{self.name} ({self.address})"
        if self.started is not None:
            self.started.wait(what)
            self.started = None
        wait_until(self.answers, lambda: self.pid(state) is not None, what, self.log_file(state))


@dataclass
class PythonService(Service):
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

    def pid_file(self, state: Path) -> Path:
        return state / f"{self.name}.pid"

    def pid(self, state: Path) -> int | None:
        return running_pid(self.pid_file(state), self.marker)

    def launch(self, state: Path) -> Server:
        executor = Server(self.args(state), self.host, self.port, self.log_file(state), cwd=state)
        executor.launch(self.pid_file(state))
        return executor

    def stop(self, state: Path) -> bool:
        return terminate(self.pid_file(state), self.marker)

    def answers(self) -> bool:
        url = f"http://{self.address}{self.ping_path}"
        with urllib.request.urlopen(url, timeout=1) as response:
            return response.status == 200 and self.ping_answer in response.read()


@dataclass
class GatewayService(PythonService):
    """The ClickHouse gateway: it answers when its engine runs a statement (its /ping would
    answer with a failed engine too)."""

    def answers(self) -> bool:
        request = urllib.request.Request(f"http://{self.address}/", data=b"SELECT 1", method="POST",
                                         headers={"X-ClickHouse-User": WRITER.user,
                                                  "X-ClickHouse-Key": WRITER.password,
                                                  "Content-Type": "text/plain"})
        with urllib.request.urlopen(request, timeout=2) as response:
            return response.status == 200 and response.read() == b"1\n"


@dataclass
class RedisService(Service):
    """One of the four redis-server instances (redis_servers runs it)."""
    server: RedisServer

    def __post_init__(self) -> None:
        self.name, self.host, self.port = self.server.name, self.server.host, self.server.port

    def pid(self, state: Path) -> int | None:
        return redis_servers.pid(self.server, state)

    def launch(self, state: Path) -> Server:
        return redis_servers.launch(self.server, state)

    def stop(self, state: Path) -> bool:
        return redis_servers.stop(self.server, state)

    def answers(self) -> bool:
        return redis_servers.answers(self.server)


@dataclass
class MariaDBService(Service):
    """The MariaDB server of the trade database (mariadb_server runs it)."""
    where: Endpoints

    def __post_init__(self) -> None:
        self.name, self.host, self.port = mariadb_server.NAME, self.where.mysql_host, self.where.mysql_port

    def pid(self, state: Path) -> int | None:
        return mariadb_server.pid(self.where, state)

    def launch(self, state: Path) -> Server:
        return mariadb_server.launch(self.where, state)

    def stop(self, state: Path) -> bool:
        return mariadb_server.stop(self.where, state)

    def answers(self) -> bool:
        return mariadb_server.answers(self.where)


def services(where: Endpoints | None = None) -> list[Service]:
    """Every service, in the order they start."""
    where = where or endpoints()
    return [
        *(RedisService(server) for server in where.redis_servers()),
        GatewayService("clickhouse-gateway", "norvane_sandbox.gateway", where.clickhouse_host,
                       where.clickhouse_port, "/ping", b"Ok.", data_dir="clickhouse"),
        PythonService("risk-simulator", "norvane_sandbox.risk_simulator", where.risk_host,
                      where.risk_port, "/ping", b'"ok": true'),
        MariaDBService(where),
    ]


def service(name: str, where: Endpoints | None = None) -> Service:
    """The service called `name` (or one of its short names: clickhouse, redis, risk, mysql)."""
    wanted = ALIASES.get(name, name)
    for candidate in services(where):
        if candidate.name == wanted:
            return candidate
    known = ", ".join([s.name for s in services(where)] + sorted(ALIASES))
    raise SandboxError(f"no service {name!r}; the stack has {known}")


@dataclass(frozen=True)
class ServiceStatus:
    name: str
    address: str
    pid: int | None
    paused: bool
    answers: bool

    @property
    def running(self) -> bool:
        return self.pid is not None

    @property
    def state(self) -> str:
        if self.pid is None:
            return "stopped"
        if self.paused:
            return f"paused (pid {self.pid})"
        return f"{'answering' if self.answers else 'NOT answering'} (pid {self.pid})"


def _answers(candidate: Service) -> bool:
    try:
        return candidate.answers()
    except Exception:  # noqa: BLE001 - any failure to answer is "no"
        return False


def status() -> list[ServiceStatus]:
    """Each service's process and whether it answers a request now."""
    state = state_dir()
    result = []
    for candidate in services():
        pid = candidate.pid(state)
        paused = pid is not None and is_stopped(pid)
        answers = pid is not None and not paused and _answers(candidate)
        result.append(ServiceStatus(candidate.name, candidate.address, pid, paused, answers))
    return result


def is_running() -> bool:
    return all(entry.running and entry.answers for entry in status())


def missing_programs() -> None:
    """Raise one error naming every Debian package the stack needs and does not find."""
    missing = [package for package, found in (("redis-server", redis_servers.redis_executable),
                                              ("mariadb-server", mariadb_server.server_executable))
               if not _found(found)]
    if missing:
        raise SandboxError(f"missing Debian packages: {' '.join(missing)}; install them with "
                           f"`sudo apt-get install {' '.join(missing)}`")


def _found(locate) -> bool:
    try:
        locate()
        return True
    except SandboxError:
        return False


def start() -> dict[str, str]:
    """Start every service not yet running, wait until every one answers, then apply the schemas.

    Returns each service's name mapped to "started" or "already running". A paused service is
    resumed first.
    """
    missing_programs()
    state = state_dir()
    state.mkdir(parents=True, exist_ok=True)
    everything = services()
    report = {}
    for candidate in everything:
        pid = candidate.pid(state)
        if pid is not None and is_stopped(pid):
            os.kill(pid, signal.SIGCONT)
        report[candidate.name] = "started" if candidate.start(state) else "already running"
    for candidate in everything:
        candidate.wait_until_answering(state)
    apply_schema()
    apply_mariadb_schema()
    return report


def stop(names: list[str] | None = None) -> dict[str, str]:
    """Stop the named services (default: all). Returns name -> "stopped" or "not running"."""
    state = state_dir()
    chosen = [service(name) for name in names] if names else list(reversed(services()))
    report = {}
    for candidate in chosen:
        pid = candidate.pid(state)
        if pid is not None and is_stopped(pid):
            os.kill(pid, signal.SIGCONT)  # a paused process cannot handle its SIGTERM
        report[candidate.name] = "stopped" if candidate.stop(state) else "not running"
    return report


def pause(name: str) -> Service:
    """Freeze a service (SIGSTOP): its port still accepts connections, but nothing is answered,
    as with a server that hangs or a network that drops packets. `resume` undoes it."""
    chosen = service(name)
    pid = chosen.pid(state_dir())
    if pid is None:
        raise SandboxError(f"{chosen.name} is not running")
    os.kill(pid, signal.SIGSTOP)
    return chosen


def resume(name: str) -> Service:
    """Undo `pause` (SIGCONT) and wait until the service answers again."""
    chosen, state = service(name), state_dir()
    pid = chosen.pid(state)
    if pid is None:
        raise SandboxError(f"{chosen.name} is not running")
    os.kill(pid, signal.SIGCONT)
    chosen.wait_until_answering(state)
    return chosen


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


def _looks_like_state_dir(path: Path) -> bool:
    known = {"clickhouse", "sessions", mariadb_server.DATA_DIR} | {s.name for s in services()}
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
