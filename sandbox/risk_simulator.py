"""Stand-in for the risk platform's real-time trader service, answering from seed data.

Run as `python -m sandbox.risk_simulator --host H --port P`. Traders log in with the
first eight characters of their account id; every trader shares one password. Traders
listed under "locked" are refused whatever the password.

    POST /api/trader/all_info  {"uid": ..., "pwd": ...}
        200 {"登录成功": true, "错误信息": "", "交易日": ..., funds..., "委托": [...], "成交": [...], "持仓": [...]}
        401 {"登录成功": false, "错误信息": "..."}
    GET /ping -> {"ok": true}
"""
from __future__ import annotations

import argparse
import hmac
import json
import signal
import sys
import threading
from http.server import BaseHTTPRequestHandler, ThreadingHTTPServer
from pathlib import Path

from .config import PACKAGE_DIR, loopback_host

PLATFORM_DATA = PACKAGE_DIR / "seed" / "risk_platform.json"


def load_platform(path: Path = PLATFORM_DATA) -> dict:
    return json.loads(path.read_text(encoding="utf-8"))


def trader_answer(platform: dict, uid: str, pwd: str) -> tuple[int, dict]:
    locked = platform.get("locked", {}).get(uid)
    if locked is not None:  # known to the desk, but the platform refuses its login
        return 401, {"登录成功": False, "错误信息": locked}
    account = platform["accounts"].get(uid)
    if account is None:
        return 401, {"登录成功": False, "错误信息": f"交易员 {uid} 不存在"}
    if not hmac.compare_digest(str(pwd).encode(), platform["password"].encode()):
        return 401, {"登录成功": False, "错误信息": "密码错误"}
    return 200, {"登录成功": True, "错误信息": "", **account}


class RiskHandler(BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"
    platform: dict  # set on the subclass made by serve()

    def do_GET(self) -> None:  # noqa: N802
        if self.path == "/ping":
            self._reply(200, {"ok": True})
        else:
            self._reply(404, {"error": f"no such path {self.path}"})

    def do_POST(self) -> None:  # noqa: N802
        body = self.rfile.read(int(self.headers.get("Content-Length") or 0))
        if self.path != "/api/trader/all_info":
            self._reply(404, {"error": f"no such path {self.path}"})
            return
        try:
            login = json.loads(body.decode("utf-8"))
            uid, pwd = str(login["uid"]), str(login["pwd"])
        except (ValueError, KeyError, TypeError):
            self._reply(400, {"error": 'body must be JSON {"uid": ..., "pwd": ...}'})
            return
        self._reply(*trader_answer(self.platform, uid, pwd))

    def _reply(self, status: int, payload: dict) -> None:
        body = json.dumps(payload, ensure_ascii=False).encode("utf-8")
        self.send_response(status)
        self.send_header("Content-Type", "application/json; charset=utf-8")
        self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        self.wfile.write(body)


class RiskServer(ThreadingHTTPServer):
    daemon_threads = True
    allow_reuse_address = True


def serve(host: str, port: int) -> None:
    handler = type("BoundRiskHandler", (RiskHandler,), {"platform": load_platform()})
    server = RiskServer((host, port), handler)
    signal.signal(signal.SIGTERM, lambda *_: threading.Thread(target=server.shutdown, daemon=True).start())
    print(f"risk platform simulator at {host}:{port}", file=sys.stderr, flush=True)
    try:
        server.serve_forever(poll_interval=0.2)
    finally:
        server.server_close()


def main(argv: list[str] | None = None) -> None:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--host", required=True)
    parser.add_argument("--port", type=int, required=True)
    args = parser.parse_args(argv)
    serve(loopback_host(args.host, "--host"), args.port)


if __name__ == "__main__":
    main()
