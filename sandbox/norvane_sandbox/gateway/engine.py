"""The embedded ClickHouse engine (chdb) behind the gateway: statements of different clients side
by side, sessions one request at a time, and settings that last as long as on a server.

- A request without `session_id` runs on a connection of its own: its URL settings, `database`,
  `SET` and `USE` end with it.
- A request with `session_id` runs on that session's connection: `SET`, `USE` and temporary
  tables carry over to the session's next requests, URL settings and `database` apply to the one
  request. A session ends `session_timeout` seconds (default 60) after its last request. A
  session serves one request at a time: another waits for it (`SESSION_WAIT` seconds at most,
  then SESSION_IS_LOCKED, as a server answers a concurrent client of a session).
- Requests on different connections run on the engine at the same time (it runs each query on
  threads of its own, outside the interpreter's lock).
- Results in formats whose pieces join into the whole (`STREAMED_FORMATS`) are read from the
  engine block by block; between blocks the request checks that its client is still there, and
  cancels the query if it has gone. The engine writes every piece as a result of its own, so the
  other formats (Arrow, Parquet, JSON, names headers, ...) are read whole.
- A query read block by block is always ended (run out or cancelled) before its connection is
  closed: closing the connection under a live query hangs or kills the engine for every client.
"""
from __future__ import annotations

import contextlib
import threading
import time
from dataclasses import dataclass, field
from typing import Callable, Iterator

from chdb.state import sqlitelike

from ..config import ClickHouseAccount
from .errors import EngineError
from .native import NativeRewriter, UnsupportedNativeType
from .sql_text import Statement, without_format

# Mutations are applied before the statement returns, so the next read sees them. ALTER TABLE
# ... UPDATE is a lightweight update (patch parts over the rows that exist when it is issued,
# applied at read time) instead of a rewrite of the table's parts: the same rows change, and the
# next statement sees them changed.
CONNECTION_SETTINGS = {"mutations_sync": "2", "alter_update_mode": "lightweight"}
# Statements whose results the engine reads block by block (others run to their end at once).
STREAMED = ("SELECT", "WITH")
# Formats whose pieces, each written by the engine as a result of its own, join into the result
# the engine writes at once (checked against it by the tests for every served format).
STREAMED_FORMATS = frozenset({"Native", "TabSeparated", "TSV", "TabSeparatedRaw", "TSVRaw", "CSV",
                              "JSONEachRow", "JSONCompactEachRow", "JSONStringsEachRow", "RowBinary",
                              "TSKV", "LineAsString"})
DEFAULT_SESSION_TIMEOUT = 60.0
MAX_SESSION_TIMEOUT = 3600.0
# How long a request waits for its session to end the request it serves.
SESSION_WAIT = 10.0


def quote_literal(value: str) -> str:
    return "'" + value.replace("\\", "\\\\").replace("'", "\\'") + "'"


def quote_identifier(name: str) -> str:
    return "`" + name.replace("\\", "\\\\").replace("`", "\\`") + "`"


@dataclass
class Request:
    """What the engine needs of an HTTP request."""
    database: str | None = None
    default_format: str = "TabSeparated"
    settings: dict[str, str] = field(default_factory=dict)
    parameters: dict[str, str] = field(default_factory=dict)
    session_id: str | None = None
    session_timeout: float = DEFAULT_SESSION_TIMEOUT
    session_check: bool = False
    protocol_version: int = 0
    read_only: bool = False          # a GET request: reads only, whoever asks
    buffered: bool = False           # wait_end_of_query: the whole result before the answer
    client_gone: Callable[[], bool] = lambda: False


@dataclass
class Summary:
    read_rows: int = 0
    read_bytes: int = 0
    written_rows: int = 0
    written_bytes: int = 0
    elapsed: float = 0.0

    def header(self) -> dict[str, str]:
        return {"read_rows": str(self.read_rows), "read_bytes": str(self.read_bytes),
                "written_rows": str(self.written_rows), "written_bytes": str(self.written_bytes),
                "total_rows_to_read": str(self.read_rows), "result_rows": "0", "result_bytes": "0",
                "elapsed_ns": str(int(self.elapsed * 1e9))}


@dataclass
class Answer:
    """A statement's answer: `first` (already read, so a failure before it is an HTTP error),
    then `rest`, which yields the remaining pieces and raises EngineError if the engine fails
    part-way. `close` ends the statement (its query first, then its connection) and must be
    called once."""
    first: bytes
    rest: Iterator[bytes]
    output_format: str | None
    summary: Summary
    close: Callable[[], None]
    complete: bool = True           # `first` is the whole answer
    end_query: Callable[[], None] = lambda: None


class _Stream:
    """A query whose result is read piece by piece. `end` cancels it unless it has run out; it
    must come before its connection closes."""

    def __init__(self, stream, client_gone: Callable[[], bool]):
        self._stream, self._client_gone, self._running = stream, client_gone, True

    def pieces(self) -> Iterator[bytes]:
        while self._running:
            if self._client_gone():
                self.end()
                return
            chunk = self._stream.fetch()
            if chunk is None:
                self._running = False
                return
            yield chunk.bytes()

    def end(self) -> None:
        if self._running:
            self._running = False
            with contextlib.suppress(Exception):
                self._stream.cancel()


class Connection:
    """An engine connection and the setting values it is known to hold."""

    def __init__(self, target: str, account: ClickHouseAccount):
        self.raw = sqlitelike.connect(target)
        self.user = account.user
        self.known: dict[str, str] = {}
        self.turn = threading.Lock()  # a session's request holds it until its answer is closed
        self.holders = 0              # requests holding or waiting for it (under the engine's lock)
        self.last_used = time.monotonic()
        self.timeout = DEFAULT_SESSION_TIMEOUT
        for name, value in CONNECTION_SETTINGS.items():
            self.set(name, value)

    def run(self, sql: str, fmt: str = "TabSeparated", params: dict[str, str] | None = None) -> bytes:
        return self.raw.query(sql, fmt, params=params or None).bytes() or b""

    def set(self, name: str, value: str) -> None:
        self.run(f"SET {name} = {quote_literal(value)}")
        self.known[name] = value

    def values(self, names: list[str]) -> dict[str, str]:
        """Current values of `names`, read from the engine for those not known yet."""
        unknown = [name for name in names if name not in self.known]
        if unknown:
            listed = ", ".join(map(quote_literal, unknown))
            answer = self.run(f"SELECT name, value FROM system.settings WHERE name IN ({listed})",
                              "TabSeparatedRaw")
            for line in answer.decode().splitlines():
                name, _, value = line.partition("\t")
                self.known[name] = value
        return {name: self.known.get(name) for name in names}

    def database(self) -> str:
        return self.run("SELECT currentDatabase()", "TabSeparatedRaw").decode().rstrip("\n")

    def close(self) -> None:
        with contextlib.suppress(Exception):
            self.raw.close()


class Engine:
    """The embedded engine over one data directory."""

    def __init__(self, data_dir: str):
        self._data_dir = data_dir
        self._lock = threading.Lock()  # the table of sessions
        self._sessions: dict[str, Connection] = {}
        # Held open for the life of the gateway: the engine stops when its last connection closes.
        self._keeper = sqlitelike.connect(data_dir)
        answer = self._keeper.query("SELECT version(), timezone()", "TabSeparated").bytes()
        self.version, self.timezone = answer.decode().rstrip("\n").split("\t")

    def close(self) -> None:
        with self._lock:
            for connection in self._sessions.values():
                connection.close()
            self._sessions.clear()
            self._keeper.close()

    def run(self, statement: Statement, account: ClickHouseAccount, request: Request) -> Answer:
        """Run `statement`; its connection stays with this request until the answer is closed.
        Statements on other connections run meanwhile."""
        try:
            connection, own = self._connection(account, request)
        except BaseException as error:
            raise _named(error, account) from None
        restore: dict[str, str | None] = {}
        previous_database = None

        answer: Answer | None = None

        def close() -> None:
            try:
                if answer is not None:
                    answer.end_query()
                if own:
                    connection.close()
                else:
                    with contextlib.suppress(Exception):
                        _restore(connection, restore, previous_database)
            finally:
                if not own:
                    self._release(connection)

        try:
            if request.database:
                if not own:
                    previous_database = connection.database()
                connection.run(f"USE {quote_identifier(request.database)}")
            restore = _apply(connection, request.settings, remember=not own)
            answer = _execute(connection, statement, request)
            if statement.kind in ("SET", "USE") and not own:
                connection.known.clear()
                previous_database = None if statement.kind == "USE" else previous_database
        except BaseException as error:
            close()
            raise _named(error, account) from None
        answer.close = close
        answer.rest = _named_errors(answer.rest, account)
        return answer

    def _connection(self, account: ClickHouseAccount, request: Request) -> tuple[Connection, bool]:
        """The session's connection, its turn taken (False: kept), or a fresh one (True: closed
        after the request)."""
        read_only = account.readonly or request.read_only
        target = f"{self._data_dir}?mode=ro" if read_only else self._data_dir
        if request.session_id is None or request.read_only:
            return Connection(target, account), True
        with self._lock:
            self._end_idle_sessions()
            session = self._sessions.get(request.session_id)
            if session is None:
                if request.session_check:
                    raise EngineError.build(372, "SESSION_NOT_FOUND", f"Session {request.session_id} not found")
                session = self._sessions[request.session_id] = Connection(target, account)
            elif session.user != account.user:
                raise EngineError.build(373, "SESSION_IS_LOCKED",
                                        f"Session {request.session_id} belongs to a different user")
            session.holders += 1
        if not session.turn.acquire(timeout=SESSION_WAIT):
            with self._lock:
                session.holders -= 1
            raise EngineError.build(373, "SESSION_IS_LOCKED",
                                    f"Session {request.session_id} is locked by a concurrent client")
        session.timeout = request.session_timeout
        return session, False

    def _release(self, session: Connection) -> None:
        with self._lock:
            session.holders -= 1
            session.last_used = time.monotonic()
        session.turn.release()

    def _end_idle_sessions(self) -> None:
        now = time.monotonic()
        for session_id, session in list(self._sessions.items()):
            if session.holders == 0 and now - session.last_used > session.timeout:
                session.close()
                del self._sessions[session_id]


def _apply(connection: Connection, settings: dict[str, str], remember: bool) -> dict[str, str | None]:
    """SET the request's settings (`readonly` last: it may forbid later SETs). For a session,
    returns the previous values of those it changed."""
    ordered = sorted(settings, key=lambda name: name == "readonly")
    current = connection.values(ordered) if remember else {}
    changed = {}
    for name in ordered:
        if remember and current.get(name) == settings[name]:
            continue
        changed[name] = current.get(name)
        connection.set(name, settings[name])
    return changed


def _restore(connection: Connection, changed: dict[str, str | None], database: str | None) -> None:
    for name, value in changed.items():
        if value is None:
            connection.known.pop(name, None)
        else:
            connection.set(name, value)
    if database is not None:
        connection.run(f"USE {quote_identifier(database)}")


def _execute(connection: Connection, statement: Statement, request: Request) -> Answer:
    raw = connection.raw
    if statement.insert_format is not None:
        inserter = raw.send_insert(statement.sql, statement.insert_format)
        try:
            if statement.data:
                inserter.append(statement.data)
            result = inserter.finish()
        except BaseException:
            with contextlib.suppress(Exception):
                inserter.cancel()
            raise
        summary = Summary(written_rows=result.rows_written, written_bytes=result.bytes_written,
                          elapsed=result.elapsed)
        return Answer(b"", iter(()), None, summary, lambda: None)
    output_format = statement.output_format or request.default_format
    framed = statement.produces_result and request.protocol_version > 0 and output_format == "Native"
    if statement.kind not in STREAMED or output_format not in STREAMED_FORMATS:
        result = raw.query(statement.sql, request.default_format, params=request.parameters or None)
        summary = Summary(result.rows_read(), result.bytes_read(), result.rows_written(),
                          result.bytes_written(), result.elapsed())
        body = result.bytes() or b""
        if framed:
            body = b"".join(_framed(connection, statement, request, iter([body])))
        return Answer(body, iter(()), output_format if statement.produces_result else None, summary,
                      lambda: None)
    stream = _Stream(raw.send_query(statement.sql, request.default_format,
                                    params=request.parameters or None), request.client_gone)
    try:
        blocks = stream.pieces()
        if framed:
            blocks = _framed(connection, statement, request, blocks)
        if request.buffered:
            # The whole result before the answer: an error anywhere is an HTTP error.
            return Answer(b"".join(blocks), iter(()), output_format, Summary(), lambda: None)
        first = next(blocks, b"")
    except BaseException:
        stream.end()
        raise
    return Answer(first, blocks, output_format, Summary(), lambda: None, complete=False,
                  end_query=stream.end)


class _TypesWanted(Exception):
    """The first block has a DateTime column, whose time zone the engine's output leaves out."""


def _framed(connection: Connection, statement: Statement, request: Request,
            blocks: Iterator[bytes]) -> Iterator[bytes]:
    """The result as a server writes it for the client's protocol version: block info before
    each block and DateTime columns with their time zone. The column types can only be asked for
    once the result has been read, so a result with a DateTime column is read to its end first."""
    def wanted(names: list[str], types: list[str]) -> list[str] | None:
        raise _TypesWanted

    read = []
    rewriter = NativeRewriter(wanted)
    try:
        try:
            for piece in blocks:
                read.append(piece)
                yield rewriter.feed(piece)
            yield rewriter.finish()
        except _TypesWanted:
            read.extend(blocks)
            rewriter = NativeRewriter(lambda names, types: _described_types(connection, statement,
                                                                            request, len(types)))
            for piece in read:
                yield rewriter.feed(piece)
            yield rewriter.finish()
    except UnsupportedNativeType as error:
        raise EngineError.build(48, "NOT_IMPLEMENTED",
                                f"{error}: this gateway cannot answer it in Native format with "
                                f"client_protocol_version; ask for another format") from None


def _described_types(connection: Connection, statement: Statement, request: Request,
                     count: int) -> list[str] | None:
    """The full type names of the statement's result columns, or None to keep the engine's."""
    try:
        described = connection.run(f"DESCRIBE TABLE ({without_format(statement.sql)})",
                                   "TabSeparatedRaw", request.parameters)
    except Exception:  # noqa: BLE001 - keep the engine's own type names
        return None
    rows = [line.split("\t") for line in described.decode().splitlines()]
    return [row[1] for row in rows] if len(rows) == count else None


def _named(error: BaseException, account: ClickHouseAccount) -> BaseException:
    """The engine's error, naming the account that asked (the engine knows every caller as
    "default")."""
    if isinstance(error, EngineError):
        return error
    if not isinstance(error, Exception):
        return error
    found = EngineError.from_exception(error)
    return EngineError(found.message.replace("DB::Exception: default: ",
                                             f"DB::Exception: {account.user}: ", 1))


def _named_errors(pieces: Iterator[bytes], account: ClickHouseAccount) -> Iterator[bytes]:
    try:
        yield from pieces
    except Exception as error:  # noqa: BLE001 - every engine failure becomes its own error text
        raise _named(error, account) from None
