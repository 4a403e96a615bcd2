"""Reading a ClickHouse HTTP request (parsed by werkzeug): body compression, form fields,
credentials, sessions, and which URL parameters are engine settings."""
from __future__ import annotations

import gzip
import re
import zlib
from dataclasses import dataclass

from werkzeug.wrappers import Request

from . import engine
from .errors import EngineError

# URL parameters that steer the HTTP exchange rather than the query result.
TRANSPORT_PARAMS = {
    "query", "database", "user", "password", "quota_key", "role", "default_format",
    "session_id", "session_timeout", "session_check", "query_id", "compress", "decompress",
    "buffer_size", "wait_end_of_query", "client_protocol_version", "stacktrace",
    "send_progress_in_http_headers", "http_headers_progress_interval_ms",
    "enable_http_compression", "http_zlib_compression_level", "http_wait_end_of_query",
    "http_response_buffer_size", "http_native_compression_disable_checksumming_on_decompress",
    "cancel_http_readonly_queries_on_client_close", "add_http_cors_header",
}
# Result shapes of the Python binding, not formats of the engine.
_NOT_ENGINE_FORMATS = {"dataframe", "arrowtable", "datastore", "debug"}
# A server's interval between progress headers when the client names none, and the shortest
# this gateway keeps.
PROGRESS_INTERVAL_MS = 100
_SETTING_NAME = re.compile(r"[A-Za-z_][A-Za-z0-9_]*\Z")


def _lz4_frames(data: bytes) -> bytes:
    import lz4.frame
    out = []
    while data:
        decompressor = lz4.frame.LZ4FrameDecompressor()
        out.append(decompressor.decompress(data))
        data = decompressor.unused_data
    return b"".join(out)


def _zlib_members(data: bytes) -> bytes:
    out = []
    while data:
        decompressor = zlib.decompressobj()
        out.append(decompressor.decompress(data) + decompressor.flush())
        data = decompressor.unused_data
    return b"".join(out)


def _zstd(data: bytes) -> bytes:
    try:
        from compression import zstd  # Python 3.14+
    except ImportError:
        from backports import zstd
    return zstd.decompress(data)


def _brotli(data: bytes) -> bytes:
    import brotli
    return brotli.decompress(data)


_DECODERS = {"gzip": gzip.decompress, "x-gzip": gzip.decompress, "deflate": _zlib_members,
             "lz4": _lz4_frames, "zstd": _zstd, "br": _brotli}


def decode_body(data: bytes, content_encoding: str | None) -> bytes:
    """Undo the Content-Encoding of a request body (applied in order, so undone in reverse)."""
    if not content_encoding or not data:
        return data
    for encoding in reversed([e.strip().lower() for e in content_encoding.split(",")]):
        if encoding in ("", "identity", "none"):
            continue
        decoder = _DECODERS.get(encoding)
        if decoder is None:
            raise EngineError.build(48, "NOT_IMPLEMENTED", f"Unknown HTTP Content-Encoding: {encoding}")
        try:
            data = decoder(data)
        except ImportError:
            raise EngineError.build(48, "NOT_IMPLEMENTED",
                                    f"Content-Encoding {encoding} needs a module that is not installed") from None
        except Exception as exc:  # noqa: BLE001 - any codec failure is a bad request body
            raise EngineError.build(27, "CANNOT_DECOMPRESS",
                                    f"Cannot decode {encoding} request body: {exc}") from None
    return data


_FORMS = ("application/x-www-form-urlencoded", "multipart/form-data")


def credentials(request: Request) -> tuple[str, str]:
    """User and password from X-ClickHouse-User/Key, Basic auth, or user/password URL parameters."""
    if request.headers.get("X-ClickHouse-User"):
        return request.headers["X-ClickHouse-User"], request.headers.get("X-ClickHouse-Key", "")
    authorization = request.authorization
    if authorization is not None and authorization.type == "basic":
        return authorization.username or "", authorization.password or ""
    if request.headers.get("Authorization"):
        raise EngineError.build(516, "AUTHENTICATION_FAILED", "Malformed Basic authorization header")
    if "user" in request.args:
        return request.args["user"], request.args.get("password", "")
    return "default", ""


@dataclass
class QueryRequest:
    """An HTTP request reduced to its SQL, its data and what the engine needs."""
    query_param: str | None
    body: bytes
    query_id: str | None
    engine: engine.Request
    progress_interval: float | None = None  # seconds between progress headers; None: none wanted


def _number(params: dict[str, str], name: str, default: float) -> float:
    try:
        return float(params[name]) if params.get(name) else default
    except ValueError:
        raise EngineError.build(27, "CANNOT_PARSE_INPUT_ASSERTION_FAILED",
                                f"Cannot parse {name}={params[name]!r} as a number") from None


def read_request(request: Request) -> QueryRequest:
    """Split URL parameters and form fields into SQL, query parameters, settings and session."""
    params = dict(request.args.items())
    for name in ("compress", "decompress"):
        if params.get(name) == "1":
            raise EngineError.build(48, "NOT_IMPLEMENTED", f"{name}=1 (ClickHouse's own compressed "
                                    f"blocks) is not supported by this gateway; use HTTP compression")
    body = b""
    if request.mimetype in _FORMS:
        if request.files:
            raise EngineError.build(48, "NOT_IMPLEMENTED", "External data tables are not supported "
                                    f"by this gateway: {', '.join(sorted(request.files))}")
        params.update(request.form.items())
    else:
        body = decode_body(request.get_data(), request.headers.get("Content-Encoding"))
    default_format = params.get("default_format") or request.headers.get("X-ClickHouse-Format") or "TabSeparated"
    if default_format.lower() in _NOT_ENGINE_FORMATS:
        raise EngineError.build(73, "UNKNOWN_FORMAT", f"Unknown format {default_format}")
    wanted = engine.Request(
        database=params.get("database") or request.headers.get("X-ClickHouse-Database") or None,
        default_format=default_format,
        session_id=params.get("session_id") or None,
        session_timeout=min(_number(params, "session_timeout", engine.DEFAULT_SESSION_TIMEOUT),
                            engine.MAX_SESSION_TIMEOUT),
        session_check=params.get("session_check") == "1",
        protocol_version=int(_number(params, "client_protocol_version", 0)),
        read_only=request.method == "GET",
        buffered=params.get("wait_end_of_query") == "1")
    for name, value in params.items():
        if name.startswith("param_"):
            wanted.parameters[name[len("param_"):]] = value
        elif name not in TRANSPORT_PARAMS:
            if not _SETTING_NAME.match(name):
                raise EngineError.build(115, "UNKNOWN_SETTING", f"Setting {name!r} is not a valid setting name")
            wanted.settings[name] = value
    # A negative interval (clickhouse_connect before 0.6.18 derives the send/receive time-out less
    # 5 s, so a client of 1 s asks for -4000) asks for none: that client measures the query by its
    # time-out alone.
    progress = None
    interval = _number(params, "http_headers_progress_interval_ms", PROGRESS_INTERVAL_MS)
    if params.get("send_progress_in_http_headers") == "1" and interval >= 0:
        progress = max(interval, PROGRESS_INTERVAL_MS) / 1000
    return QueryRequest(params.get("query"), body, params.get("query_id") or None, wanted, progress)
