"""Serving a WSGI application of the stack: waitress for the HTTP transport (request framing,
chunked bodies, keep-alive, TCP_NODELAY), werkzeug for reading requests, one signal handling."""
from __future__ import annotations

import argparse
import logging
import signal
import sys
import time
from typing import Callable

from waitress.server import create_server

from .config import loopback_host


class ResponseAborted(Exception):
    """Raised by an application's response body to end the response without its last chunk and
    close the connection (after writing an error into a result already on its way)."""


class _QuietAborts(logging.Filter):
    def filter(self, record: logging.LogRecord) -> bool:
        return not (record.exc_info and isinstance(record.exc_info[1], ResponseAborted))


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
