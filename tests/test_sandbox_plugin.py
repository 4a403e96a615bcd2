"""The pytest plugin as a desk's suite meets it: loading it costs nothing, and suites side by side
share the stack without disturbing each other, their outages included."""
import subprocess
import sys
import time

CLIENTS = ("redis", "pymysql", "clickhouse_connect", "urllib3", "chdb", "pandas", "Norvane", "filelock")

IDLE_SUITE = f"""
import sys

def test_loading_the_plugin_imported_no_client():
    assert [name for name in {CLIENTS!r} if name in sys.modules] == []
"""

DESK_SUITE = """
import Norvane

def test_an_account_of_its_own(norvane_account, norvane_clickhouse_writer):
    assert Norvane.Norvane(*norvane_account.args).login == 0
    assert norvane_clickhouse_writer.command("SELECT count() FROM factors.t_account_info"
                                             f" WHERE account_id = '{norvane_account.id}'") == 1
"""

# Two sessions at once: one holds a frozen, then a down ClickHouse of its own while the other
# logs in, uploads and reads. They take turns through files in their directory.
TURNS = """
import time
from pathlib import Path

HERE = Path(__file__).parent


def wait_for(name):
    deadline = time.monotonic() + 120
    while not (HERE / name).exists():
        assert time.monotonic() < deadline, f"the other session wrote no {name} in 120 s"
        time.sleep(0.1)
"""

HOLDER_SUITE = TURNS + """
import socket

import pytest


def test_holds_a_frozen_then_a_down_clickhouse(norvane_stack, norvane_outage):
    for how, failure in (("frozen", socket.timeout), ("down", ConnectionRefusedError)):
        with norvane_outage("clickhouse", how=how):
            with pytest.raises(failure):
                with socket.create_connection((norvane_stack.clickhouse_host, norvane_stack.clickhouse_port),
                                              timeout=1) as connection:
                    connection.sendall(b"GET /ping HTTP/1.0\\r\\n\\r\\n")
                    connection.recv(100)
            (HERE / how).touch()
            wait_for(how + ".done")
"""

WORKER_SUITE = TURNS + """
import pandas as pd

import Norvane

DAY = "20991230"


def test_uploads_and_reads_meanwhile(norvane_account):
    for position, how in enumerate(("frozen", "down"), start=1):
        wait_for(how)
        trader = Norvane.Norvane(*norvane_account.args)
        assert trader.connect_tag == 0
        table = pd.DataFrame({"trading_day": [DAY], "contract": ["rb2601"], "position": [float(position)],
                              "direction": ["L"], "order_typ": ["call_auction"]})
        assert trader.fun_update_signal(table)["code"] == 0
        assert [row["position"] for row in trader.fun_read_signal(DAY, DAY)["data"]] == [position]
        (HERE / (how + ".done")).touch()
"""


def pytest_in(directory, *options):
    return subprocess.Popen([sys.executable, "-m", "pytest", "-q", "-p", "no:cacheprovider", *options],
                            cwd=directory, stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True)


def test_loading_the_plugin_imports_no_client_library(tmp_path):
    (tmp_path / "test_idle.py").write_text(IDLE_SUITE)
    began = time.monotonic()
    run = pytest_in(tmp_path)
    output = run.communicate(timeout=120)[0]
    print(f"an idle session with the plugin: {time.monotonic() - began:.2f} s")  # measured, not asserted
    assert run.returncode == 0, output


def test_suites_side_by_side_share_the_stack(norvane_stack, tmp_path):
    (tmp_path / "test_desk.py").write_text(DESK_SUITE)
    runs = [pytest_in(tmp_path) for _ in range(2)]
    outputs = [run.communicate(timeout=300)[0] for run in runs]
    assert [run.returncode for run in runs] == [0, 0], outputs
    from norvane_sandbox.stack import is_running
    assert is_running()  # neither session started it, so neither stopped it


def test_an_outage_belongs_to_its_session(norvane_stack, tmp_path):
    (tmp_path / "test_holder.py").write_text(HOLDER_SUITE)
    (tmp_path / "test_worker.py").write_text(WORKER_SUITE)
    runs = [pytest_in(tmp_path, name) for name in ("test_holder.py", "test_worker.py")]
    outputs = [run.communicate(timeout=300)[0] for run in runs]
    assert [run.returncode for run in runs] == [0, 0], outputs
