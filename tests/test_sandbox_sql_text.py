"""Routing of request SQL: output format, INSERT data boundary, statement count."""
import pytest

from norvane_sandbox.gateway.errors import EngineError
from norvane_sandbox.gateway.sql_text import parse_statement


@pytest.mark.parametrize("query_param, body, kind, output_format", [
    (None, b"SELECT 'FORMAT JSON' AS x\n FORMAT Native", "SELECT", "Native"),
    (None, b"SELECT 1 -- FORMAT JSON", "SELECT", None),
    (None, b"SELECT format('{}', 'a') AS format FROM t", "SELECT", None),
    (None, b"(SELECT 1) FORMAT JSONEachRow SETTINGS max_threads = 1", "SELECT", "JSONEachRow"),
    (None, b"/* note */ ALTER TABLE t UPDATE a = 1 WHERE 1", "ALTER", None),
    ("SELECT 1", b"+ 2", "SELECT", None),
])
def test_statement_kind_and_output_format(query_param, body, kind, output_format):
    statement = parse_statement(query_param, body)
    assert (statement.kind, statement.output_format, statement.insert_format) == (kind, output_format, None)


@pytest.mark.parametrize("query_param, body, head, fmt, data", [
    # Native blocks may start with bytes that look like whitespace (10 columns = b"\n").
    (None, b"INSERT INTO t (a, b) FORMAT Native\n\n\x01\xff", "INSERT INTO t (a, b)", "Native", b"\n\x01\xff"),
    ("INSERT INTO `f`.`t` FORMAT Native", b"\n\x01\xfe", "INSERT INTO `f`.`t`", "Native", b"\n\x01\xfe"),
    (None, "INSERT INTO t FORMAT CSV\r\n1,螺纹钢\n".encode(), "INSERT INTO t", "CSV", "1,螺纹钢\n".encode()),
    (None, b"INSERT INTO t SETTINGS async_insert = 0 FORMAT TSV 1\t2", "INSERT INTO t SETTINGS async_insert = 0",
     "TSV", b"1\t2"),
])
def test_insert_data_boundary(query_param, body, head, fmt, data):
    statement = parse_statement(query_param, body)
    assert (statement.sql, statement.insert_format, statement.data) == (head, fmt, data)


@pytest.mark.parametrize("body", [b"INSERT INTO t VALUES ('FORMAT CSV', 1)", b"INSERT INTO t SELECT * FROM s FORMAT Native"])
def test_inserts_with_sql_rows_run_as_one_statement(body):
    statement = parse_statement(None, body)
    assert statement.insert_format is None and statement.sql == body.decode()


@pytest.mark.parametrize("body, refused", [
    (b"SELECT ';'", False),
    (b"SELECT 1;", False),
    (b"SELECT 1; -- done", False),
    (b"SELECT 1; SELECT 2", True),
    (b"INSERT INTO t VALUES (1); DROP TABLE t", True),
    (b"", True),
    (b"-- only a comment", True),
])
def test_one_statement_per_request(body, refused):
    if refused:
        with pytest.raises(EngineError) as raised:
            parse_statement(None, body)
        assert raised.value.code == 62 and raised.value.http_status == 400
    else:
        parse_statement(None, body)
