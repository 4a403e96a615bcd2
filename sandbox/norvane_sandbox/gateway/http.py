"""The HTTP side of the gateway: requests authenticated and read, statements run on the engine,
answers and errors written as a ClickHouse server writes them."""
from __future__ import annotations

import hmac
import json
import os
import secrets
import string
import threading
import time
import uuid
from typing import Iterator

from werkzeug.wrappers import Request, Response

from ..config import CLICKHOUSE_ACCOUNTS, ClickHouseAccount
from ..serving import HEADER_LINE, ResponseAborted, log
from .engine import Answer, Engine
from .errors import ENGINE_FAILED, EngineError, authentication_failed
from .request import credentials, read_request
from .sql_text import parse_statement

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
_TAG_LETTERS = string.ascii_lowercase + string.digits


def authenticate(user: str, password: str) -> ClickHouseAccount:
    account = CLICKHOUSE_ACCOUNTS.get(user)
    if account is None or not hmac.compare_digest(account.password.encode(), password.encode()):
        raise authentication_failed(user)
    return account


def exception_block(error: EngineError, tag: str) -> bytes:
    """An error inside a result whose first part was sent: the marked block a server writes
    (clients find it by the X-ClickHouse-Exception-Tag of the response)."""
    message = error.message.encode() + b"\n"
    return (b"\r\n__exception__\r\n" + tag.encode() + b"\r\n" + message
            + f"{len(message)} {tag}".encode() + b"\r\n__exception__\r\n")


# The exit status of a gateway whose engine failed; `norvane-sandbox start` starts it again.
EXIT_ENGINE_FAILED = 75


def _stop_soon() -> None:
    threading.Timer(0.5, os._exit, (EXIT_ENGINE_FAILED,)).start()


class Gateway:
    def __init__(self, engine: Engine, on_engine_failure=_stop_soon):
        self.engine = engine
        self.failure: EngineError | None = None
        self.on_engine_failure = on_engine_failure

    def engine_failed(self, error: EngineError) -> EngineError:
        """The engine cannot run another statement in this process: every request from now on is
        answered so, and the process ends shortly, so that `start` brings up a new engine."""
        if self.failure is None:
            log(f"the engine failed, the gateway stops: {error.message.splitlines()[0][:300]}")
            self.failure = EngineError.build(
                ENGINE_FAILED, "ABORTED",
                "The local stack's ClickHouse engine failed and the gateway is stopping; "
                "`norvane-sandbox start` starts it again")
            self.on_engine_failure()
        return self.failure

    def __call__(self, environ, start_response):
        request = Request(environ)
        tag = "".join(secrets.choice(_TAG_LETTERS) for _ in range(16))
        response = self.respond(request, environ, tag)
        response.headers["X-ClickHouse-Exception-Tag"] = tag
        response.headers["X-ClickHouse-Timezone"] = self.engine.timezone
        response.headers.setdefault("X-ClickHouse-Query-Id", str(uuid.uuid4()))
        return response(environ, start_response)

    def respond(self, request: Request, environ, tag: str) -> Response:
        if request.path == "/ping" or (request.path == "/" and request.method == "GET"
                                       and "query" not in request.args):
            return Response(b"Ok.\n", content_type="text/html; charset=UTF-8")
        if request.path != "/":
            return _failure(EngineError.build(1001, "STD_EXCEPTION", f"There is no handle {request.path}"),
                            None, status=404)
        if request.method not in ("GET", "POST"):
            return _failure(EngineError.build(1001, "STD_EXCEPTION",
                                              f"HTTP method {request.method} is not supported"), None, status=405)
        query_id = request.args.get("query_id") or None
        if self.failure is not None:
            return _failure(self.failure, query_id, status=503)
        try:
            account = authenticate(*credentials(request))
            wanted = read_request(request)
            query_id = wanted.query_id
            disconnected = environ.get("waitress.client_disconnected")
            if disconnected is not None:
                wanted.engine.client_gone = disconnected
            statement = parse_statement(wanted.query_param, wanted.body)
            with _Progress(environ.get(HEADER_LINE), wanted.progress_interval):
                answer = self.engine.run(statement, account, wanted.engine)
        except EngineError as error:
            if error.engine_failed:
                return _failure(self.engine_failed(error), query_id, status=503)
            log(f"query failed: {error.message.splitlines()[0][:300]}")
            return _failure(error, query_id)
        headers = {"X-ClickHouse-Summary": json.dumps(answer.summary.header(), separators=(",", ":")),
                   "Content-Type": "text/plain; charset=UTF-8"}
        if query_id:
            headers["X-ClickHouse-Query-Id"] = query_id
        if answer.output_format is not None:
            headers["X-ClickHouse-Format"] = answer.output_format
            headers["Content-Type"] = _CONTENT_TYPES.get(answer.output_format, "application/octet-stream")
        if answer.complete:
            answer.close()
            return Response(answer.first, headers=headers)
        return Response(self.body(answer, tag), headers=headers, direct_passthrough=True)

    def body(self, answer: Answer, tag: str) -> Iterator[bytes]:
        try:
            if answer.first:
                yield answer.first
            try:
                for piece in answer.rest:
                    if piece:  # an empty piece would end a chunked body
                        yield piece
            except EngineError as error:
                if error.engine_failed:
                    error = self.engine_failed(error)
                log(f"query failed while its result was sent: {error.message.splitlines()[0][:300]}")
                yield exception_block(error, tag)
                raise ResponseAborted(error.message) from None
        finally:
            answer.close()


class _Progress:
    """While the engine works on a statement, an X-ClickHouse-Progress header every `interval`
    seconds, as a server sends them to a client that asked (send_progress_in_http_headers=1):
    the client's read time-out then measures a server that stopped answering, not a long query.
    The first is due one interval after the statement began; none is sent once the block ends,
    so the answer's own headers follow the last one. A failure after the first keeps the status
    200 and is told by the X-ClickHouse-Exception-Code header and the message as the body."""

    def __init__(self, header_line, interval: float | None):
        self._header_line = header_line if interval is not None else None
        self._interval = interval
        self._done = threading.Event()
        self._began = time.monotonic()
        self._thread = threading.Thread(target=self._send, name="progress", daemon=True)

    def __enter__(self) -> "_Progress":
        if self._header_line is not None:
            self._thread.start()
        return self

    def __exit__(self, *exc) -> None:
        self._done.set()
        if self._thread.is_alive():
            self._thread.join()

    def _send(self) -> None:
        while not self._done.wait(self._interval):
            elapsed = int((time.monotonic() - self._began) * 1e9)
            progress = {"read_rows": "0", "read_bytes": "0", "written_rows": "0", "written_bytes": "0",
                        "total_rows_to_read": "0", "result_rows": "0", "result_bytes": "0",
                        "elapsed_ns": str(elapsed)}
            try:
                self._header_line("X-ClickHouse-Progress: " + json.dumps(progress, separators=(",", ":")))
            except Exception:  # noqa: BLE001 - the client has gone: the statement sees it itself
                return


def _failure(error: EngineError, query_id: str | None, status: int | None = None) -> Response:
    response = Response((error.message + "\n").encode(), status or error.http_status,
                        content_type="text/plain; charset=UTF-8")
    response.headers["X-ClickHouse-Exception-Code"] = str(error.code)
    if query_id:
        response.headers["X-ClickHouse-Query-Id"] = query_id
    return response

