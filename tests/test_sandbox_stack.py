"""Starting and stopping the stack: configuration, the CLI, persistence across restarts."""
import os
import subprocess
import sys
import uuid

import pytest

import norvane_sandbox as sandbox
from norvane_sandbox import SandboxError, endpoints
from norvane_sandbox.clients import clickhouse_client, mysql_client, redis_client
from norvane_sandbox.processes import port_open
from norvane_sandbox.redis_servers import redis_executable


def cli(*args, **environment):
    return subprocess.run([sys.executable, "-m", "norvane_sandbox", *args], capture_output=True, text=True,
                          timeout=120, env={**os.environ, **environment})


@pytest.mark.parametrize("value", ["10.0.0.5", "192.168.1.20", "8.8.8.8", "localhost", "::1", "127.0.0"])
def test_non_loopback_host_refused(monkeypatch, value):
    monkeypatch.delenv("NORVANE_SANDBOX_STACK_HOSTS", raising=False)  # a test session's
    monkeypatch.setenv("NORVANE_RISK_HOST", value)
    with pytest.raises(SandboxError, match="NORVANE_RISK_HOST"):
        endpoints()


def test_hosts_come_from_environment(monkeypatch):
    monkeypatch.delenv("NORVANE_SANDBOX_STACK_HOSTS", raising=False)
    for variable in ("NORVANE_REDIS_PROD_HOST", "NORVANE_REDIS_PROD67_HOST",
                     "NORVANE_REDIS_PROD65_HOST", "NORVANE_RISK_HOST"):
        monkeypatch.delenv(variable, raising=False)
    monkeypatch.setenv("NORVANE_DB_HOST", "127.0.0.9")
    monkeypatch.delenv("NORVANE_RISK_HOST", raising=False)
    where = endpoints()
    assert (where.clickhouse_host, where.redis_test_host, where.mysql_host, where.risk_host) == \
        ("127.0.0.9", "127.0.0.9", "127.0.0.9", "127.0.0.5")
    monkeypatch.setenv("NORVANE_REDIS_PROD65_HOST", "127.0.0.9")
    with pytest.raises(SandboxError, match="distinct"):
        endpoints()


def test_missing_redis_server_is_a_clear_error(monkeypatch):
    monkeypatch.setenv("PATH", "/nonexistent")
    with pytest.raises(SandboxError, match="redis-server was not found on PATH"):
        redis_executable()
    with pytest.raises(SandboxError, match=r"missing Debian packages: redis-server; install them with "
                                           r"`sudo apt-get install redis-server`"):
        sandbox.stack.missing_programs()


def test_an_address_in_use_is_one_line_naming_service_and_address(norvane_stack, tmp_path):
    # Another state directory: the running stack's servers are not this stack's.
    started = cli("start", NORVANE_SANDBOX_DIR=str(tmp_path))
    if started.returncode == 0:  # a stack of its own would hold the addresses for later tests
        cli("stop", NORVANE_SANDBOX_DIR=str(tmp_path))
    assert started.returncode == 1
    lines = started.stderr.strip().splitlines()
    assert len(lines) == 1 and lines[0].startswith(
        f"norvane-sandbox start: redis-test: {endpoints().redis_test_host}:6379 is already in use by a process")


def test_status_tells_a_paused_service(norvane_stack):
    sandbox.stack.pause("risk")
    try:
        status = cli("status")
        assert status.returncode == 3 and "risk-simulator" in status.stdout
        assert [line for line in status.stdout.splitlines() if "paused" in line][0].startswith("risk-simulator")
    finally:
        sandbox.stack.resume("risk")
    assert cli("status").returncode == 0


def test_reset_refuses_a_directory_it_did_not_write(monkeypatch, tmp_path):
    (tmp_path / "notes.txt").write_text("keep me")
    monkeypatch.setenv("NORVANE_SANDBOX_DIR", str(tmp_path))
    with pytest.raises(SandboxError, match="not deleting"):
        sandbox.reset()
    assert (tmp_path / "notes.txt").exists()


def test_cli_start_is_idempotent(norvane_stack):
    started = cli("start")
    assert started.returncode == 0 and "stack already running" in started.stdout
    status = cli("status")
    assert status.returncode == 0 and status.stdout.count("answering (pid") == 7


def test_data_survives_stop_and_start(norvane_stack):
    table, key = f"other.persist_probe_{uuid.uuid4().hex[:8]}", "sandbox:persist-probe"
    client = clickhouse_client(where=norvane_stack)
    client.command(f"CREATE TABLE {table} (note String) ENGINE = MergeTree ORDER BY tuple()")
    client.command(f"INSERT INTO {table} VALUES ('before restart')")
    client.close()
    redis_client("redis-prod", norvane_stack).set(key, "kept")
    mysql = mysql_client(where=norvane_stack, autocommit=True)
    with mysql.cursor() as cursor:
        cursor.execute(f"CREATE TABLE trade.{table.split('.')[1]} (note VARCHAR(32))")
        cursor.execute(f"INSERT INTO trade.{table.split('.')[1]} VALUES ('before restart')")
    mysql.close()
    try:
        assert cli("stop").returncode == 0
        assert cli("status").returncode == 3
        assert not port_open(endpoints().clickhouse_host, endpoints().clickhouse_port)  # the server, not the proxy
        restarted = cli("start")
        assert restarted.returncode == 0 and restarted.stdout.count("started") == 7, restarted.stderr
        client = clickhouse_client(where=norvane_stack)
        assert client.query(f"SELECT note FROM {table}").result_rows == [("before restart",)]
        assert redis_client("redis-prod", norvane_stack).get(key) == "kept"
        mysql = mysql_client(where=norvane_stack)
        with mysql.cursor() as cursor:
            cursor.execute(f"SELECT note FROM trade.{table.split('.')[1]}")
            assert cursor.fetchall() == (("before restart",),)
        mysql.close()
    finally:
        sandbox.start()
        mysql = mysql_client(where=norvane_stack, autocommit=True)
        with mysql.cursor() as cursor:
            cursor.execute(f"DROP TABLE IF EXISTS trade.{table.split('.')[1]}")
        mysql.close()
        clickhouse_client(where=norvane_stack).command(f"DROP TABLE IF EXISTS {table}")
        redis_client("redis-prod", norvane_stack).delete(key)
