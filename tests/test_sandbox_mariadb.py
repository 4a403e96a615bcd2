"""The stack's MariaDB server: its own data directory and address, the desk's read account, the
seeded trade database."""
import pymysql
import pytest

import norvane_sandbox as sandbox
from norvane_sandbox.clients import mysql_client
from norvane_sandbox.config import MYSQL_READER, MySQLAccount, state_dir
from norvane_sandbox.seed import DEMO, mariadb_seed_files


def rows(connection, sql):
    with connection.cursor() as cursor:
        cursor.execute(sql)
        return list(cursor.fetchall())


def test_server_runs_on_the_database_host_with_the_stacks_data_directory(norvane_stack):
    connection = mysql_client(MYSQL_READER, norvane_stack)
    try:
        [(datadir, bind, port, charset)] = rows(
            connection, "SELECT @@datadir, @@bind_address, @@port, @@character_set_server")
    finally:
        connection.close()
    assert datadir.rstrip("/") == str(state_dir() / "mariadb")
    assert (bind, port, charset) == (sandbox.endpoints().db_host, 3306, "utf8mb4")  # the server's, not the proxy's


def test_the_desk_account_reads_the_trade_database_and_writes_nothing(norvane_stack):
    connection = mysql_client(MYSQL_READER, norvane_stack)
    try:
        tables = {name for (name,) in rows(connection, "SHOW TABLES")}
        assert tables >= {"daily_return", "daily_return_fz", "commodity_info", "t_assetacc_info"}
        with pytest.raises(pymysql.err.OperationalError) as denied:
            rows(connection, "UPDATE commodity_info SET multiplier = 0")
        assert denied.value.args[0] == 1142
    finally:
        connection.close()


@pytest.mark.parametrize("account", [MySQLAccount("norvane", "wrong", True), MySQLAccount("root", "", False)])
def test_other_credentials_are_refused(norvane_stack, account):
    with pytest.raises(pymysql.err.OperationalError) as refused:
        mysql_client(account, norvane_stack)
    assert refused.value.args[0] == 1045


@pytest.mark.parametrize("sql, expected", [
    ("SELECT product_name FROM t_assetacc_info WHERE assetacc = '88001234' ORDER BY product_name",
     [(name,) for name in sorted(DEMO["products"])]),
    ("SELECT COUNT(*) FROM commodity_info WHERE commodity = 'i'", [(2,)]),
    (f"SELECT contract, CHAR_LENGTH(contract) FROM daily_return WHERE contract = '{DEMO['seven_char_contract']}'",
     [(DEMO["seven_char_contract"], 7)]),
    (f"SELECT assetacc_sum, assetacc_save FROM t_assetacc_info WHERE assetacc = '{DEMO['other_account']}'",
     [(DEMO["other_account"], DEMO["other_account"] + "-S")]),
])
def test_seeded_rows(norvane_mysql_writer, sql, expected):
    assert rows(norvane_mysql_writer, sql) == expected


def test_reseeding_restores_the_same_rows(norvane_stack, norvane_mysql_writer):
    rows(norvane_mysql_writer, "INSERT INTO commodity_info VALUES ('zz', 'x', 1)")
    written = sandbox.seed()["mariadb"]
    for table, path in mariadb_seed_files().items():
        expected = len(path.read_text(encoding="utf-8").splitlines()) - 1
        assert written[table] == expected
        assert rows(norvane_mysql_writer, f"SELECT COUNT(*) FROM {table}") == [(expected,)], table
