"""Serving a WSGI application of the stack: waitress for the HTTP transport (request framing,
chunked bodies, keep-alive, TCP_NODELAY), werkzeug for reading requests, one signal handling."""
from __future__ import annotations

import argparse
import logging
import signal
import sys
import time
from typing import Callable

from waitress.channel import HTTPChannel
from waitress.server import create_server
from waitress.task import WSGITask

from .config import loopback_host

# The environ key of a request's early header lines (see `_EarlyHeadersTask`).
HEADER_LINE = "norvane.header_line"


class ResponseAborted(Exception):
    """Raised by an application's response body to end the response without its last chunk and
    close the connection (after writing an error into a result already on its way)."""


class _QuietAborts(logging.Filter):
    def filter(self, record: logging.LogRecord) -> bool:
        return not (record.exc_info and isinstance(record.exc_info[1], ResponseAborted))


class _EarlyHeadersTask(WSGITask):
    """A request whose application may send header lines while it works, before its response:
    `environ[HEADER_LINE](line)` writes the status line "200 OK" (the first time) and `line`,
    leaving the header block open. The response's own headers then follow without a status line
    of their own: a response begun so keeps the 200, whatever the application answers at the
    end, as a server that has begun its answer does. The application calls it from one thread at
    a time and never once its response has started."""

    status_line_sent = False

    def get_environment(self):
        environ = super().get_environment()
        environ[HEADER_LINE] = self._header_line
        return environ

    def _header_line(self, line: str) -> None:
        status = b"" if self.status_line_sent else f"HTTP/{self.version} 200 OK\r\n".encode("latin-1")
        self.channel.write_soon(status + line.encode("latin-1") + b"\r\n")
        self.status_line_sent = True

    def build_response_header(self):
        header = super().build_response_header()
        return header.split(b"\r\n", 1)[1] if self.status_line_sent else header


class _Channel(HTTPChannel):
    task_class = _EarlyHeadersTask


def log(text: str) -> None:
    print(f"{time.strftime('%Y-%m-%d %H:%M:%S')} {text}", file=sys.stderr, flush=True)


def _stop(signum, frame):  # noqa: ARG001
    raise SystemExit(0)


def serve(application, host: str, port: int, description: str,
          on_stop: Callable[[], None] | None = None, threads: int = 4) -> None:
    """Serve `application` at host:port until SIGTERM or SIGINT; then run `on_stop`."""
    # channel_request_lookahead lets a request see that its client has gone away
    # (environ["waitress.client_disconnected"]).
    server = create_server(application, host=host, port=port, threads=threads,
                           channel_request_lookahead=1, ident=None, expose_tracebacks=False,
                           clear_untrusted_proxy_headers=True)
    server.channel_class = _Channel
    logging.getLogger("waitress").addFilter(_QuietAborts())
    signal.signal(signal.SIGTERM, _stop)
    signal.signal(signal.SIGINT, _stop)
    log(f"{description} at {host}:{port}")
    try:
        server.run()
    finally:
        server.close()
        if on_stop is not None:
            on_stop()
        log(f"{description} stopped")


def address_arguments(description: str, argv: list[str] | None, *extra: tuple[str, str]) -> argparse.Namespace:
    """--host (loopback only) and --port, plus required `extra` options (name, help)."""
    parser = argparse.ArgumentParser(description=description)
    parser.add_argument("--host", required=True)
    parser.add_argument("--port", type=int, required=True)
    for name, text in extra:
        parser.add_argument(name, required=True, help=text)
    args = parser.parse_args(argv)
    args.host = loopback_host(args.host, "--host")
    return args
