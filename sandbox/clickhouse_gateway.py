"""ClickHouse HTTP interface in front of the embedded ClickHouse engine (chdb).

Run as `python -m sandbox.clickhouse_gateway --host H --port P --data DIR`.
Each request runs on a fresh engine connection, so URL settings, `USE` and `SET`
never outlive the request that carried them (the interface's sessionless mode).
Requests are served one at a time through a single lock.
"""
from __future__ import annotations

import argparse
import contextlib
import hmac
import json
import signal
import sys
import threading
import time
import uuid
from dataclasses import dataclass
from http.server import BaseHTTPRequestHandler, ThreadingHTTPServer
from urllib.parse import parse_qs, urlsplit

from chdb.state import sqlitelike

from .config import CLICKHOUSE_ACCOUNTS, ClickHouseAccount, loopback_host
from .engine_errors import EngineError, authentication_failed
from .gateway_request import QueryRequest, build_request, credentials, decode_body, read_chunked
from .sql_text import Statement, parse_statement

# Mutations are applied before the statement returns, so the next read sees them.
_CONNECTION_SETTINGS = {"mutations_sync": "2"}

_CONTENT_TYPES = {
    "TabSeparated": "text/tab-separated-values; charset=UTF-8",
    "TSV": "text/tab-separated-values; charset=UTF-8",
    "TabSeparatedWithNames": "text/tab-separated-values; charset=UTF-8",
    "CSV": "text/csv; charset=UTF-8; header=absent",
    "CSVWithNames": "text/csv; charset=UTF-8; header=present",
    "JSON": "application/json; charset=UTF-8",
    "JSONEachRow": "application/x-ndjson; charset=UTF-8",
    "JSONCompact": "application/json; charset=UTF-8",
}


def quote_literal(value: str) -> str:
    return "'" + value.replace("\\", "\\\\").replace("'", "\\'") + "'"


def quote_identifier(name: str) -> str:
    return "`" + name.replace("\\", "\\\\").replace("`", "\\`") + "`"


@dataclass
class Outcome:
    body: bytes
    summary: dict[str, str]
    output_format: str | None


def _summary(read_rows=0, read_bytes=0, written_rows=0, written_bytes=0, elapsed=0.0) -> dict[str, str]:
    return {"read_rows": str(read_rows), "read_bytes": str(read_bytes),
            "written_rows": str(written_rows), "written_bytes": str(written_bytes),
            "total_rows_to_read": str(read_rows), "result_rows": "0", "result_bytes": "0",
            "elapsed_ns": str(int(elapsed * 1e9))}


class Engine:
    """The embedded engine over one data directory; one statement at a time."""

    def __init__(self, data_dir: str):
        self._data_dir = data_dir
        self._lock = threading.Lock()
        # Held open for the life of the gateway: the engine stops when its last connection closes.
        self._keeper = sqlitelike.connect(data_dir)
        answer = self._keeper.query("SELECT version(), timezone()", "TabSeparated").bytes()
        self.version, self.timezone = answer.decode().rstrip("\n").split("\t")

    def close(self) -> None:
        with self._lock:
            self._keeper.close()

    def run(self, statement: Statement, account: ClickHouseAccount, request: QueryRequest) -> Outcome:
        target = f"{self._data_dir}?mode=ro" if account.readonly else self._data_dir
        with self._lock:
            connection = sqlitelike.connect(target)
            try:
                return self._run_on(connection, statement, request)
            except EngineError:
                raise
            except Exception as exc:  # noqa: BLE001 - the engine reports every failure this way
                error = EngineError.from_exception(exc)
                # The engine knows every caller as "default"; name the account that asked.
                raise EngineError(error.message.replace("DB::Exception: default: ",
                                                        f"DB::Exception: {account.user}: ", 1)) from None
            finally:
                connection.close()

    @staticmethod
    def _run_on(connection, statement: Statement, request: QueryRequest) -> Outcome:
        for name, value in _CONNECTION_SETTINGS.items():
            connection.query(f"SET {name} = {quote_literal(value)}", "TabSeparated")
        if request.database:
            connection.query(f"USE {quote_identifier(request.database)}", "TabSeparated")
        # `readonly` last: once set, the connection refuses further SETs.
        for name, value in sorted(request.settings.items(), key=lambda item: item[0] == "readonly"):
            connection.query(f"SET {name} = {quote_literal(value)}", "TabSeparated")
        if statement.insert_format is not None:
            inserter = connection.send_insert(statement.sql, statement.insert_format)
            try:
                if statement.data:
                    inserter.append(statement.data)
                result = inserter.finish()
            except BaseException:
                with contextlib.suppress(Exception):
                    inserter.cancel()
                raise
            return Outcome(b"", _summary(written_rows=result.rows_written,
                                         written_bytes=result.bytes_written, elapsed=result.elapsed), None)
        output_format = statement.output_format or request.default_format
        result = connection.query(statement.sql, request.default_format,
                                  params=request.query_parameters or None)
        body = result.bytes() or b""
        return Outcome(body, _summary(result.rows_read(), result.bytes_read(), result.rows_written(),
                                      result.bytes_written(), result.elapsed()),
                       output_format if statement.produces_result else None)


def authenticate(user: str, password: str) -> ClickHouseAccount:
    account = CLICKHOUSE_ACCOUNTS.get(user)
    if account is None or not hmac.compare_digest(account.password.encode(), password.encode()):
        raise authentication_failed(user)
    return account


class GatewayHandler(BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"
    server_version = "NorvaneSandboxClickHouse"
    engine: Engine  # set on the subclass made by serve()

    def do_GET(self) -> None:  # noqa: N802 - http.server naming
        url = urlsplit(self.path)
        if url.path == "/ping" or (url.path == "/" and "query" not in parse_qs(url.query)):
            self._reply(200, b"Ok.\n", {"Content-Type": "text/html; charset=UTF-8"})
        elif url.path == "/":
            # Like the HTTP interface, a GET request can only read.
            self._execute(url.query, b"", get_request=True)
        else:
            self._not_found(url.path)

    def do_POST(self) -> None:  # noqa: N802
        url = urlsplit(self.path)
        try:
            body = self._read_body()
        except EngineError as error:
            self._fail(error, None)
            return
        if url.path != "/":
            self._not_found(url.path)
            return
        self._execute(url.query, body, get_request=False)

    def _read_body(self) -> bytes:
        if "chunked" in self.headers.get("Transfer-Encoding", "").lower():
            raw = read_chunked(self.rfile)
        else:
            raw = self.rfile.read(int(self.headers.get("Content-Length") or 0))
        return decode_body(raw, self.headers.get("Content-Encoding"))

    def _execute(self, url_query: str, body: bytes, get_request: bool) -> None:
        query_id = None
        try:
            account = authenticate(*credentials(self.headers, url_query))
            request = build_request(self.headers, url_query, body)
            query_id = request.query_id
            if get_request and not account.readonly:
                account = ClickHouseAccount(account.user, account.password, readonly=True)
            statement = parse_statement(request.query_param, request.body)
            outcome = self.engine.run(statement, account, request)
        except EngineError as error:
            self._fail(error, query_id)
            return
        except Exception as exc:  # noqa: BLE001 - answer like the server would, keep the connection
            self._fail(EngineError.from_exception(exc), query_id)
            return
        headers = {"X-ClickHouse-Summary": json.dumps(outcome.summary, separators=(",", ":")),
                   "Content-Type": "text/plain; charset=UTF-8"}
        if outcome.output_format is not None:
            headers["X-ClickHouse-Format"] = outcome.output_format
            headers["Content-Type"] = _CONTENT_TYPES.get(outcome.output_format, "application/octet-stream")
        self._reply(200, outcome.body, headers, query_id)

    def _fail(self, error: EngineError, query_id: str | None) -> None:
        self.log_message("query failed: %s", error.message.splitlines()[0][:300])
        self._reply(error.http_status, (error.message + "\n").encode(),
                    {"Content-Type": "text/plain; charset=UTF-8",
                     "X-ClickHouse-Exception-Code": str(error.code)}, query_id)

    def _not_found(self, path: str) -> None:
        error = EngineError.build(1001, "STD_EXCEPTION", f"There is no handle {path}")
        self._reply(404, (error.message + "\n").encode(), {"Content-Type": "text/plain; charset=UTF-8"})

    def _reply(self, status: int, body: bytes, headers: dict[str, str], query_id: str | None = None) -> None:
        self.send_response(status)
        self.send_header("X-ClickHouse-Query-Id", query_id or str(uuid.uuid4()))
        self.send_header("X-ClickHouse-Timezone", self.engine.timezone)
        for name, value in headers.items():
            self.send_header(name, value)
        self.send_header("Content-Length", str(len(body)))
        self.send_header("Keep-Alive", "timeout=30")
        self.end_headers()
        self.wfile.write(body)


class GatewayServer(ThreadingHTTPServer):
    daemon_threads = True
    allow_reuse_address = True


def serve(host: str, port: int, data_dir: str) -> None:
    engine = Engine(data_dir)
    handler = type("BoundGatewayHandler", (GatewayHandler,), {"engine": engine})
    server = GatewayServer((host, port), handler)

    def shut_down(signum, frame):  # noqa: ARG001
        threading.Thread(target=server.shutdown, daemon=True).start()

    signal.signal(signal.SIGTERM, shut_down)
    signal.signal(signal.SIGINT, shut_down)
    print(f"{time.strftime('%Y-%m-%d %H:%M:%S')} ClickHouse {engine.version} ({engine.timezone}) "
          f"over HTTP at {host}:{port}, data in {data_dir}", file=sys.stderr, flush=True)
    try:
        server.serve_forever(poll_interval=0.2)
    finally:
        server.server_close()
        engine.close()
        print("gateway stopped", file=sys.stderr, flush=True)


def main(argv: list[str] | None = None) -> None:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--host", required=True)
    parser.add_argument("--port", type=int, required=True)
    parser.add_argument("--data", required=True, help="engine data directory")
    args = parser.parse_args(argv)
    serve(loopback_host(args.host, "--host"), args.port, args.data)


if __name__ == "__main__":
    main()
