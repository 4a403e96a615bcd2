"""The pytest plugin as a desk's suite meets it: loading it costs nothing, and suites side by side
share the stack without disturbing each other."""
import subprocess
import sys
import time

CLIENTS = ("redis", "pymysql", "clickhouse_connect", "urllib3", "chdb", "pandas", "Norvane")

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
