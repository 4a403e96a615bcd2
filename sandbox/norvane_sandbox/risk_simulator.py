"""Stand-in for the risk platform's real-time trader service, answering from seed data.

Run as `python -m norvane_sandbox.risk_simulator --host H --port P`. Traders log in with the
first eight characters of their account id; every trader shares one password. Traders
listed under "locked" are refused whatever the password.

    POST /api/trader/all_info  {"uid": ..., "pwd": ...}
        200 {"登录成功": true, "错误信息": "", "交易日": ..., funds..., "委托": [...], "成交": [...], "持仓": [...]}
        401 {"登录成功": false, "错误信息": "..."}
    GET /ping -> {"ok": true}
"""
from __future__ import annotations

import hmac
import json
from pathlib import Path

from werkzeug.wrappers import Request, Response

from .config import PACKAGE_DIR
from .serving import address_arguments, serve

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


def _json(status: int, payload: dict) -> Response:
    return Response(json.dumps(payload, ensure_ascii=False).encode("utf-8"), status,
                    content_type="application/json; charset=utf-8")


def application_for(platform: dict):
    @Request.application
    def application(request: Request) -> Response:
        if request.method == "GET" and request.path == "/ping":
            return _json(200, {"ok": True})
        if request.method != "POST" or request.path != "/api/trader/all_info":
            return _json(404, {"error": f"no such path {request.path}"})
        try:
            login = json.loads(request.get_data().decode("utf-8"))
            uid, pwd = str(login["uid"]), str(login["pwd"])
        except (ValueError, KeyError, TypeError):
            return _json(400, {"error": 'body must be JSON {"uid": ..., "pwd": ...}'})
        return _json(*trader_answer(platform, uid, pwd))
    return application


def main(argv: list[str] | None = None) -> None:
    args = address_arguments(__doc__.splitlines()[0], argv)
    serve(application_for(load_platform()), args.host, args.port, "risk platform simulator")


if __name__ == "__main__":
    main()
