"""The stack's own MariaDB server: one mariadbd on the database host, port 3306, with its data
directory inside the state directory (never the system's server or data).

The data directory is created with mariadb-install-db on the first start. At every start the
server runs an init file that (re)creates the desk's read account and the stack's administrator
with their passwords, so a data directory always matches the configuration.
"""
from __future__ import annotations

import os
import pwd
import shutil
import subprocess
from pathlib import Path

import pymysql

from .config import MYSQL_ADMIN, MYSQL_DATABASE, MYSQL_READER, Endpoints, MySQLAccount, SandboxError
from .processes import Server, log_tail, running_pid, service_environment, terminate

NAME = "mariadb"
DATA_DIR = "mariadb"  # name of its data directory inside the state directory
# Kept small: the stack's tables hold a few dozen rows.
_SERVER_OPTIONS = ["--innodb-buffer-pool-size=32M", "--innodb-log-file-size=8M",
                   "--character-set-server=utf8mb4", "--collation-server=utf8mb4_general_ci",
                   "--skip-name-resolve"]


def _executable(name: str) -> str:
    path = shutil.which(name) or next((str(p) for p in (Path("/usr/sbin") / name, Path("/usr/bin") / name)
                                       if p.exists()), None)
    if path is None:
        raise SandboxError(f"{name} was not found; install MariaDB (Debian: apt-get install mariadb-server)")
    return path


def server_executable() -> str:
    return _executable("mariadbd")


def files(state: Path) -> tuple[Path, Path, Path]:
    return state / f"{NAME}.pid", state / f"{NAME}.log", state / DATA_DIR


def marker(where: Endpoints) -> str:
    return f"--bind-address={where.mysql_host} --port={where.mysql_port}"


def _socket(where: Endpoints, data_dir: Path) -> Path:
    # A Unix socket path must fit in 107 bytes; deep state directories fall back to /tmp.
    inside = data_dir / "mysqld.sock"
    if len(str(inside).encode()) <= 100:
        return inside
    return Path("/tmp") / f"norvane-mariadb-{where.mysql_host}-{where.mysql_port}.sock"


def _run_as() -> list[str]:
    # mariadbd refuses to run as root unless told to; as anyone else it runs as that user.
    return [f"--user={pwd.getpwuid(os.geteuid()).pw_name}"] if os.geteuid() == 0 else []


def _quoted(text: str) -> str:
    return "'" + text.replace("\\", "\\\\").replace("'", "\\'") + "'"


def init_statements() -> list[str]:
    """Run by the server at each start: the database and both accounts with their rights."""
    statements = [f"CREATE DATABASE IF NOT EXISTS {MYSQL_DATABASE} CHARACTER SET utf8mb4"]
    for account, rights in ((MYSQL_READER, "SELECT"), (MYSQL_ADMIN, "ALL PRIVILEGES")):
        user = f"{_quoted(account.user)}@'%'"
        statements += [f"CREATE USER IF NOT EXISTS {user} IDENTIFIED BY {_quoted(account.password)}",
                       f"ALTER USER {user} IDENTIFIED BY {_quoted(account.password)}",
                       f"GRANT {rights} ON {MYSQL_DATABASE}.* TO {user}"]
    return statements


def connect(where: Endpoints, account: MySQLAccount = MYSQL_ADMIN, timeout: float = 2.0,
            **options) -> pymysql.connections.Connection:
    return pymysql.connect(host=where.mysql_host, port=where.mysql_port, user=account.user,
                           password=account.password, database=MYSQL_DATABASE, charset="utf8mb4",
                           connect_timeout=timeout, **options)


def pid(where: Endpoints, state: Path) -> int | None:
    return running_pid(files(state)[0], marker(where))


def answers(where: Endpoints) -> bool:
    connect(where, timeout=1).close()
    return True


def _initialise(data_dir: Path, log_file: Path) -> None:
    if (data_dir / "mysql").is_dir():
        return
    if data_dir.exists():  # left over from an interrupted first start
        shutil.rmtree(data_dir)
    data_dir.mkdir(parents=True)
    with open(log_file, "ab") as log:
        finished = subprocess.run([_executable("mariadb-install-db"), "--no-defaults",
                                   f"--datadir={data_dir}", *_run_as(),
                                   "--auth-root-authentication-method=socket", "--skip-test-db",
                                   *_SERVER_OPTIONS],
                                  stdin=subprocess.DEVNULL, stdout=log, stderr=subprocess.STDOUT,
                                  env=service_environment())
    if finished.returncode != 0:
        shutil.rmtree(data_dir, ignore_errors=True)
        raise SandboxError(f"mariadb-install-db failed for {data_dir}; last lines of {log_file}:\n"
                           f"{log_tail(log_file)}")


def launch(where: Endpoints, state: Path) -> Server:
    """Start the server (it answers once it has opened its data directory); returns its executor."""
    pid_file, log_file, data_dir = files(state)
    server = server_executable()
    _initialise(data_dir, log_file)
    init_file = data_dir / "sandbox-init.sql"
    init_file.write_text("".join(statement + ";\n" for statement in init_statements()), encoding="utf-8")
    executor = Server([server, "--no-defaults", f"--datadir={data_dir}", *_run_as(),
                       f"--bind-address={where.mysql_host}", f"--port={where.mysql_port}",
                       f"--socket={_socket(where, data_dir)}", f"--init-file={init_file}", *_SERVER_OPTIONS],
                      where.mysql_host, where.mysql_port, log_file, cwd=state)
    executor.launch(pid_file)
    return executor


def stop(where: Endpoints, state: Path) -> bool:
    return terminate(files(state)[0], marker(where), timeout=30.0)
