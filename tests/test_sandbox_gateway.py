"""The ClickHouse HTTP gateway, driven by an unmodified clickhouse_connect and by raw HTTP."""
import base64
import datetime
import http.client
import inspect
import threading
import time
import uuid
from pathlib import Path
from urllib.parse import urlencode

import clickhouse_connect
import pytest
from clickhouse_connect.driver.exceptions import DatabaseError, StreamFailureError
from urllib3.exceptions import ProtocolError

from norvane_sandbox import READER, WRITER
from norvane_sandbox.clients import clickhouse_client

ROW_TYPES = "d Date, t DateTime, n Nullable(String), f Float64, s String, i Int64"
ROWS = [
    (datetime.date(2025, 8, 29), datetime.datetime(2025, 8, 29, 21, 3, 16), None, 3042.5, "豆粕 m2601", 2),
    (datetime.date(2025, 8, 27), datetime.datetime(2025, 8, 27, 9, 1, 6), "E-0001", -0.25, "rb2510", -7),
]


def http_call(where, body=b"", params=None, user=WRITER.user, password=WRITER.password, headers=None,
              method="POST", connection=None):
    """One request on `connection` (or a new one): (status, headers, body)."""
    conn = connection or http.client.HTTPConnection(where.clickhouse_host, where.clickhouse_port, timeout=10)
    all_headers = {"Authorization": "Basic " + base64.b64encode(f"{user}:{password}".encode()).decode()}
    all_headers.update(headers or {})
    conn.request(method, "/?" + urlencode(params or {}), body=body, headers=all_headers)
    response = conn.getresponse()
    return response.status, response.headers, response.read()


@pytest.fixture
def scratch_table(norvane_clickhouse_writer):
    name = f"other.gateway_probe_{uuid.uuid4().hex[:8]}"
    norvane_clickhouse_writer.command(f"CREATE TABLE {name} ({ROW_TYPES}) ENGINE = MergeTree ORDER BY tuple()")
    yield name
    norvane_clickhouse_writer.command(f"DROP TABLE IF EXISTS {name}")


@pytest.mark.parametrize("account", [WRITER, READER], ids=lambda a: a.user)
def test_unmodified_client_starts_up(norvane_stack, account):
    client = clickhouse_client(account, norvane_stack)
    version, timezone = client.command("SELECT version(), timezone()")
    assert client.server_version == version and version.split(".")[0].isdigit()
    assert timezone == "Etc/UTC"
    assert client.query("SELECT count() FROM factors.t_account_info").result_rows[0][0] > 0
    client.close()


@pytest.mark.parametrize("compress", ["lz4", "zstd", "gzip", False])
def test_native_round_trip_through_insert_and_query(norvane_stack, scratch_table, compress):
    if compress == "lz4":
        pytest.importorskip("lz4")  # clickhouse-connect's extra from CPython 3.14 on
    client = clickhouse_client(WRITER, norvane_stack, compress=compress)
    context = client.create_insert_context(scratch_table, column_names=["d", "t", "n", "f", "s", "i"], data=ROWS)
    context.block_row_count = 1  # one compressed frame per row: the body is a chain of frames
    client.insert(context=context)
    result = client.query(f"SELECT * FROM {scratch_table} ORDER BY d DESC")
    assert result.result_rows == ROWS
    assert [t.name for t in result.column_types] == ["Date", "DateTime", "Nullable(String)", "Float64", "String", "Int64"]
    client.close()


def test_command_insert_and_server_side_parameters(norvane_clickhouse_writer, scratch_table):
    norvane_clickhouse_writer.command(f"INSERT INTO {scratch_table} VALUES "
                              "('2025-08-28', '2025-08-28 09:02:12', NULL, 3135, '螺纹钢', 0.0)")
    rows = norvane_clickhouse_writer.query(f"SELECT s, n, i FROM {scratch_table} WHERE d = {{day:Date}}",
                                   parameters={"day": "2025-08-28"}).result_rows
    assert rows == [("螺纹钢", None, 0)]


def test_form_encoded_parameters(norvane_stack):
    from clickhouse_connect.driver.httpclient import HttpClient
    if "form_encode_query_params" not in inspect.signature(HttpClient.__init__).parameters:
        pytest.skip("this clickhouse-connect cannot send parameters form-encoded")
    client = clickhouse_client(WRITER, norvane_stack, form_encode_query_params=True)
    assert client.query("SELECT {a:Int32} + 1, {s:String}", parameters={"a": 41, "s": "它's"}).result_rows == [(42, "它's")]
    client.close()


@pytest.mark.parametrize("sql, code, name, status", [
    ("SELEC 1", 62, "SYNTAX_ERROR", 400),
    ("SELECT 1; SELECT 2", 62, "SYNTAX_ERROR", 400),
    ("SELECT * FROM factors.no_such_table", 60, "UNKNOWN_TABLE", 404),
    ("SELECT no_such_function(1)", 46, "UNKNOWN_FUNCTION", 404),
    ("SELECT throwIf(1)", 395, "FUNCTION_THROW_IF_VALUE_IS_NON_ZERO", 500),
])
def test_engine_errors_reach_the_client(norvane_stack, norvane_clickhouse_writer, sql, code, name, status):
    with pytest.raises(DatabaseError) as raised:
        norvane_clickhouse_writer.query(sql)
    assert f"Code: {code}. DB::Exception:" in str(raised.value) and f"({name})" in str(raised.value)
    got_status, headers, body = http_call(norvane_stack, sql.encode())
    assert (got_status, headers["X-ClickHouse-Exception-Code"]) == (status, str(code))
    assert body.decode().startswith(f"Code: {code}. DB::Exception:")


@pytest.mark.parametrize("user, password", [("norvane", "wrong"), ("nobody", WRITER.password)])
def test_wrong_credentials_refused(norvane_stack, user, password):
    with pytest.raises(DatabaseError) as raised:
        clickhouse_connect.get_client(host=norvane_stack.clickhouse_host, port=norvane_stack.clickhouse_port,
                                      username=user, password=password)
    assert f"Code: 516. DB::Exception: {user}: Authentication failed" in str(raised.value)
    status, headers, _ = http_call(norvane_stack, b"SELECT 1", user=user, password=password)
    assert (status, headers["X-ClickHouse-Exception-Code"]) == (403, "516")


@pytest.mark.parametrize("how", ["headers", "url"])
def test_other_credential_carriers(norvane_stack, how):
    conn = http.client.HTTPConnection(norvane_stack.clickhouse_host, norvane_stack.clickhouse_port, timeout=10)
    if how == "headers":
        conn.request("POST", "/", body=b"SELECT 7", headers={"X-ClickHouse-User": READER.user, "X-ClickHouse-Key": READER.password})
    else:
        conn.request("POST", "/?" + urlencode({"user": READER.user, "password": READER.password}), body=b"SELECT 7")
    assert conn.getresponse().read() == b"7\n"


@pytest.mark.parametrize("statement", [
    "INSERT INTO factors.risk_config (name) VALUES ('x')",
    "CREATE TABLE other.reader_made (a Int8) ENGINE = Memory",
    "ALTER TABLE factors.risk_config UPDATE min_amt = 0 WHERE 1",
    "TRUNCATE TABLE factors.risk_config",
])
def test_read_only_account_cannot_write(norvane_clickhouse_reader, statement):
    with pytest.raises(DatabaseError, match=r"Code: 164\. DB::Exception: read_factors: .*\(READONLY\)"):
        norvane_clickhouse_reader.command(statement)


def test_read_only_account_cannot_insert_native(norvane_clickhouse_reader, norvane_clickhouse_writer, scratch_table):
    with pytest.raises(DatabaseError, match=r"Code: 164"):
        norvane_clickhouse_reader.insert(scratch_table, ROWS, column_names=["d", "t", "n", "f", "s", "i"])
    assert norvane_clickhouse_writer.command(f"SELECT count() FROM {scratch_table}") == 0


@pytest.mark.parametrize("lightweight", [False, True], ids=["mutation", "lightweight update"])
def test_update_mutation_is_synchronous_and_spares_later_rows(norvane_clickhouse_writer, scratch_table, lightweight):
    if lightweight:  # as the signal table: ALTER TABLE ... UPDATE writes patch parts
        norvane_clickhouse_writer.command(f"ALTER TABLE {scratch_table} MODIFY SETTING"
                                          " enable_block_number_column = 1, enable_block_offset_column = 1")
    norvane_clickhouse_writer.insert(scratch_table, ROWS, column_names=["d", "t", "n", "f", "s", "i"])
    norvane_clickhouse_writer.command(f"ALTER TABLE {scratch_table} UPDATE s = 'cleared' WHERE i < 100")
    norvane_clickhouse_writer.command(f"INSERT INTO {scratch_table} (d, s, i) VALUES ('2025-08-30', 'later', 1)")
    rows = norvane_clickhouse_writer.query(f"SELECT s FROM {scratch_table} ORDER BY d").result_rows
    assert rows == [("cleared",), ("cleared",), ("later",)]
    norvane_clickhouse_writer.command(f"ALTER TABLE {scratch_table} DELETE WHERE s = 'later'")
    assert norvane_clickhouse_writer.command(f"SELECT count() FROM {scratch_table}") == 2


@pytest.mark.parametrize("params, sql, applied, default", [
    ({"limit": "2"}, "SELECT number FROM numbers(5)", b"0\n1\n", b"0\n1\n2\n3\n4\n"),
    ({"database": "factors"}, "SELECT currentDatabase()", b"factors\n", b"default\n"),
    ({"date_time_input_format": "basic"}, "SELECT getSetting('date_time_input_format')", b"basic\n", b"best_effort\n"),
    ({"readonly": "1", "max_result_rows": "7"}, "SELECT getSetting('readonly'), getSetting('max_result_rows')",
     b"1\t7\n", b"0\t0\n"),
], ids=["limit", "database", "date_time_input_format", "readonly_applied_last"])
def test_url_settings_apply_to_one_request_only(norvane_stack, params, sql, applied, default):
    conn = http.client.HTTPConnection(norvane_stack.clickhouse_host, norvane_stack.clickhouse_port, timeout=10)
    assert http_call(norvane_stack, sql.encode(), params=params, connection=conn)[2] == applied
    assert http_call(norvane_stack, sql.encode(), connection=conn)[2] == default


def test_set_and_temporary_tables_last_for_their_session_only(norvane_stack):
    first, other = clickhouse_client(WRITER, norvane_stack), clickhouse_client(WRITER, norvane_stack)
    first.command("SET max_result_rows = 1, result_overflow_mode = 'break'")
    first.command("CREATE TEMPORARY TABLE scratch (a Int8)")
    first.command("INSERT INTO scratch VALUES (1), (2)")
    assert len(first.query("SELECT number FROM numbers(3) SETTINGS max_block_size = 1").result_rows) == 1
    assert first.query("SELECT count() FROM scratch").result_rows == [(2,)]
    assert len(other.query("SELECT number FROM numbers(3)").result_rows) == 3
    with pytest.raises(DatabaseError, match="UNKNOWN_TABLE"):
        other.command("SELECT count() FROM scratch")
    assert http_call(norvane_stack, b"SELECT count() FROM scratch")[0] == 404
    first.close()
    other.close()


def test_url_settings_apply_to_one_request_of_a_session(norvane_stack):
    session = {"session_id": f"s-{uuid.uuid4()}"}
    sql = b"SELECT getSetting('max_result_rows'), currentDatabase()"
    assert http_call(norvane_stack, sql, params={**session, "max_result_rows": "7", "database": "factors"})[2] == b"7\tfactors\n"
    assert http_call(norvane_stack, sql, params=session)[2] == b"0\tdefault\n"


def test_session_refusals(norvane_stack):
    status, headers, _ = http_call(norvane_stack, b"SELECT 1", params={"session_id": f"s-{uuid.uuid4()}",
                                                                "session_check": "1"})
    assert (status, headers["X-ClickHouse-Exception-Code"]) == (404, "372")
    session = {"session_id": f"s-{uuid.uuid4()}"}
    assert http_call(norvane_stack, b"SELECT 1", params=session)[0] == 200
    status, headers, _ = http_call(norvane_stack, b"SELECT 1", params=session, user=READER.user, password=READER.password)
    assert headers["X-ClickHouse-Exception-Code"] == "373"


def test_time_zones_of_columns_reach_the_client(norvane_clickhouse_writer):
    sql = "SELECT toDateTime('2025-08-29 21:03:16', 'Asia/Shanghai') AS t, toDateTime('2025-08-29 13:03:16') AS u"
    shanghai = datetime.timezone(datetime.timedelta(hours=8))
    local, utc = norvane_clickhouse_writer.query(sql).result_rows[0]
    assert local.tzinfo is not None and local.astimezone(shanghai).replace(tzinfo=None) == \
        datetime.datetime(2025, 8, 29, 21, 3, 16)
    assert utc == datetime.datetime(2025, 8, 29, 13, 3, 16) and local.timestamp() == \
        utc.replace(tzinfo=datetime.timezone.utc).timestamp()
    frame = norvane_clickhouse_writer.query_df(sql)
    assert str(frame["t"].dt.tz) == "Asia/Shanghai" and frame["t"].dt.hour.tolist() == [21]


def client_reads_exception_tags() -> bool:
    """Newer clients find an error written into a result by the response's exception tag."""
    root = Path(clickhouse_connect.__file__).parent / "driver"
    return any("X-ClickHouse-Exception-Tag" in path.read_text(errors="ignore") for path in root.rglob("*.py"))


def test_an_error_inside_a_streamed_result_reaches_the_stream_reader(norvane_clickhouse_writer):
    sql = "SELECT throwIf(number = 5, 'boom') AS x, number FROM numbers(10) SETTINGS max_block_size = 1"
    # A client older than exception tags only sees the response end early, as with a server.
    expected = StreamFailureError if client_reads_exception_tags() else (StreamFailureError, ProtocolError)
    with pytest.raises(expected) as raised:
        with norvane_clickhouse_writer.query_row_block_stream(sql) as stream:
            for _ in stream:
                pass
    if client_reads_exception_tags():
        assert "Code: 395" in str(raised.value)
    assert norvane_clickhouse_writer.command("SELECT 1") == 1  # the client and the gateway go on


def test_clients_run_side_by_side_and_a_session_one_request_at_a_time(norvane_stack):
    ended = {}

    def ask(name, params):
        http_call(norvane_stack, b"SELECT sleep(1.5)" if name == "slow" else b"SELECT 42", params=params)
        ended[name] = time.monotonic()

    session = {"session_id": f"s-{uuid.uuid4()}"}
    jobs = [threading.Thread(target=ask, args=args) for args in
            [("slow", session), ("same session", session), ("another client", {})]]
    begun = time.monotonic()
    jobs[0].start()
    time.sleep(0.3)  # the slow one under way when the others come
    for job in jobs[1:]:
        job.start()
    for job in jobs:
        job.join(30)
    # The slow query ends on the server 1.5 s after `begun` at the earliest. Compared with that
    # moment, not with when the slow one's thread took its time (threads answered within the same
    # millisecond may record it in either order).
    slow_done = begun + 1.5
    assert ended["another client"] < slow_done <= min(ended["slow"], ended["same session"])


def test_a_query_its_client_gave_up_on_stops_holding_the_engine(norvane_stack):
    impatient = clickhouse_client(WRITER, norvane_stack, send_receive_timeout=1)
    slow = ("SELECT sleepEachRow(0.2), number FROM numbers(50)"
            " SETTINGS max_block_size = 1, function_sleep_max_microseconds_per_block = 0")
    with pytest.raises(Exception, match="(?i)timed? ?out"):
        impatient.query(slow)
    gave_up = time.monotonic()
    other = clickhouse_client(WRITER, norvane_stack)
    assert other.command("SELECT 42") == 42
    # Run to its end, the query would hold the engine about 9 s more.
    assert time.monotonic() - gave_up < 5
    impatient.close()
    other.close()


def test_compress_parameter_is_refused(norvane_stack):
    status, headers, body = http_call(norvane_stack, b"SELECT 1", params={"compress": "1"})
    assert (status, headers["X-ClickHouse-Exception-Code"]) == (501, "48") and b"compress=1" in body


def test_query_parameter_joined_with_body(norvane_stack):
    status, _, body = http_call(norvane_stack, b"+ 2", params={"query": "SELECT 1"})
    assert (status, body) == (200, b"3\n")


def test_response_headers_and_keep_alive(norvane_stack):
    conn = http.client.HTTPConnection(norvane_stack.clickhouse_host, norvane_stack.clickhouse_port, timeout=10)
    status, headers, _ = http_call(norvane_stack, b"SELECT 1 FORMAT Native", params={"query_id": "q-42"}, connection=conn)
    assert status == 200 and headers["X-ClickHouse-Query-Id"] == "q-42"
    assert headers["X-ClickHouse-Format"] == "Native" and headers["X-ClickHouse-Timezone"] == "Etc/UTC"
    assert '"read_rows"' in headers["X-ClickHouse-Summary"]
    status, headers, body = http_call(norvane_stack, b"CREATE DATABASE IF NOT EXISTS other", connection=conn)
    assert (status, body) == (200, b"") and "X-ClickHouse-Format" not in headers
    assert http_call(norvane_stack, method="GET", connection=conn)[2] == b"Ok.\n"
    conn.request("GET", "/ping")
    assert conn.getresponse().read() == b"Ok.\n"


def test_get_request_is_read_only(norvane_stack):
    status, headers, _ = http_call(norvane_stack, method="GET",
                                   params={"query": "CREATE TABLE other.via_get (a Int8) ENGINE = Memory"})
    assert (status, headers["X-ClickHouse-Exception-Code"]) == (500, "164")
