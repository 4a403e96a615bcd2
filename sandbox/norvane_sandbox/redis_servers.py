"""The four password-protected redis-server instances, one per loopback address."""
from __future__ import annotations

import shutil
from pathlib import Path

import redis

from .config import RedisServer, SandboxError
from .processes import Server, running_pid, terminate


def redis_executable() -> str:
    path = shutil.which("redis-server")
    if path is None:
        raise SandboxError("redis-server was not found on PATH; install it "
                           "(Debian/Ubuntu: apt-get install redis-server)")
    return path


def _files(server: RedisServer, state: Path) -> tuple[Path, Path, Path]:
    return state / f"{server.name}.pid", state / f"{server.name}.log", state / server.name


def _marker(server: RedisServer) -> str:
    # redis-server retitles itself "redis-server <bind>:<port>"
    return f"{server.host}:{server.port}"


def client(server: RedisServer, timeout: float = 2.0) -> redis.Redis:
    return redis.Redis(host=server.host, port=server.port, password=server.password,
                       socket_timeout=timeout, socket_connect_timeout=timeout, decode_responses=True)


def pid(server: RedisServer, state: Path) -> int | None:
    return running_pid(_files(server, state)[0], _marker(server))


def answers(server: RedisServer) -> bool:
    connection = client(server, timeout=0.5)
    try:
        return bool(connection.ping())
    finally:
        connection.close()


def launch(server: RedisServer, state: Path) -> Server:
    """Start `server` (it answers once it has loaded its data); returns its executor."""
    pid_file, log_file, data_dir = _files(server, state)
    data_dir.mkdir(parents=True, exist_ok=True)
    args = [redis_executable(), "--port", str(server.port), "--bind", server.host,
            "--requirepass", server.password, "--daemonize", "no", "--logfile", str(log_file),
            "--dir", str(data_dir), "--save", "60", "1", "--appendonly", "no"]
    executor = Server(args, server.host, server.port, log_file, cwd=data_dir)
    executor.launch(pid_file)
    return executor


def stop(server: RedisServer, state: Path) -> bool:
    pid_file, _, _ = _files(server, state)
    return terminate(pid_file, _marker(server))
