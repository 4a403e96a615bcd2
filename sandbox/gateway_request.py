"""Reading a ClickHouse HTTP request: body framing and compression, form fields,
credentials, and which URL parameters are engine settings."""
from __future__ import annotations

import base64
import gzip
import re
import zlib
from dataclasses import dataclass, field
from email.parser import BytesParser
from email.policy import HTTP
from typing import BinaryIO, Mapping
from urllib.parse import parse_qsl

from .engine_errors import EngineError

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
_SETTING_NAME = re.compile(r"[A-Za-z_][A-Za-z0-9_]*\Z")


def read_chunked(stream: BinaryIO) -> bytes:
    """Body sent with Transfer-Encoding: chunked (clickhouse_connect streams inserts this way)."""
    parts = []
    while True:
        size_line = stream.readline()
        if not size_line:
            raise EngineError.build(33, "CANNOT_READ_ALL_DATA", "Unexpected end of chunked request body")
        size = int(size_line.split(b";", 1)[0].strip() or b"0", 16)
        if size == 0:
            while stream.readline() not in (b"\r\n", b"\n", b""):
                pass  # trailer headers
            return b"".join(parts)
        parts.append(stream.read(size))
        stream.readline()


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


def form_fields(content_type: str, body: bytes) -> dict[str, bytes] | None:
    """Fields of a form-encoded body, or None if the body is not a form."""
    kind = content_type.split(";", 1)[0].strip().lower()
    if kind == "application/x-www-form-urlencoded":
        return {k: v.encode() for k, v in parse_qsl(body.decode("utf-8", "replace"), keep_blank_values=True)}
    if kind != "multipart/form-data":
        return None
    message = BytesParser(policy=HTTP).parsebytes(b"Content-Type: " + content_type.encode() + b"\r\n\r\n" + body)
    fields: dict[str, bytes] = {}
    for part in message.iter_parts():
        name = part.get_param("name", header="content-disposition")
        if name is not None:
            fields[name] = part.get_payload(decode=True) or b""
    return fields


@dataclass
class QueryRequest:
    """A request reduced to what the engine needs."""
    query_param: str | None
    body: bytes
    database: str | None = None
    default_format: str = "TabSeparated"
    query_id: str | None = None
    settings: dict[str, str] = field(default_factory=dict)
    query_parameters: dict[str, str] = field(default_factory=dict)


def credentials(headers: Mapping[str, str], url_query: str) -> tuple[str, str]:
    """User and password from X-ClickHouse-User/Key, Basic auth, or user/password URL parameters."""
    params = dict(parse_qsl(url_query, keep_blank_values=True))
    if headers.get("X-ClickHouse-User"):
        return headers["X-ClickHouse-User"], headers.get("X-ClickHouse-Key", "")
    authorization = headers.get("Authorization", "")
    if authorization[:6].lower() == "basic ":
        try:
            decoded = base64.b64decode(authorization[6:].strip()).decode()
        except (ValueError, UnicodeDecodeError):
            raise EngineError.build(516, "AUTHENTICATION_FAILED", "Malformed Basic authorization header") from None
        user, _, password = decoded.partition(":")
        return user, password
    if "user" in params:
        return params["user"], params.get("password", "")
    return "default", ""


def build_request(headers: Mapping[str, str], url_query: str, body: bytes) -> QueryRequest:
    """Split URL parameters and form fields into SQL, query parameters and settings."""
    params = dict(parse_qsl(url_query, keep_blank_values=True))
    fields = form_fields(headers.get("Content-Type", ""), body) if body else None
    if fields is not None:
        extra = sorted(k for k in fields if k != "query" and not k.startswith("param_"))
        if extra:
            raise EngineError.build(48, "NOT_IMPLEMENTED",
                                    f"External data tables are not supported by this gateway: {', '.join(extra)}")
        params.update({k: v.decode("utf-8") for k, v in fields.items()})
        body = b""
    default_format = params.get("default_format") or headers.get("X-ClickHouse-Format") or "TabSeparated"
    if default_format.lower() in _NOT_ENGINE_FORMATS:
        raise EngineError.build(73, "UNKNOWN_FORMAT", f"Unknown format {default_format}")
    request = QueryRequest(params.get("query"), body,
                           database=params.get("database") or headers.get("X-ClickHouse-Database") or None,
                           default_format=default_format,
                           query_id=params.get("query_id") or None)
    for name, value in params.items():
        if name.startswith("param_"):
            request.query_parameters[name[len("param_"):]] = value
        elif name not in TRANSPORT_PARAMS:
            if not _SETTING_NAME.match(name):
                raise EngineError.build(115, "UNKNOWN_SETTING", f"Setting {name!r} is not a valid setting name")
            request.settings[name] = value
    return request
