"""Client for the risk platform's real-time trader service.

`query_trader_all_info(IP, PORT, UID, PWD)` logs in as trader UID and returns the
trading day's orders, deals, positions and funds as one dict:

    "登录成功"  bool
    "错误信息"  str, why the login failed ("" on success)
    "委托"      list of orders:    委托编号 合约 交易所 买卖 开平 委托价格 委托数量 成交数量 委托状态 委托时间
    "成交"      list of deals:     成交编号 委托编号 合约 交易所 买卖 开平 成交价格 成交数量 成交时间 手续费
    "持仓"      list of positions: 合约 交易所 多空 总持仓 今仓 昨仓 开仓均价 持仓盈亏 占用保证金
    "交易日"    str, "%Y%m%d"
    "可用资金" "账户权益" "持仓盈亏" "平仓盈亏" "手续费" "入金" "出金" "上次权益"   float

A failed login is an ordinary answer with "登录成功" False, empty lists and zero
figures. A service that cannot be reached, or answers with something other than
the trader JSON, raises RiskServiceUnavailable.
"""
from __future__ import annotations

import json
import socket
import urllib.error
import urllib.request

__all__ = ["query_trader_all_info", "RiskServiceUnavailable"]

TIMEOUT_SECONDS = 5.0
FUNDS_FIELDS = ("可用资金", "账户权益", "持仓盈亏", "平仓盈亏", "手续费", "入金", "出金", "上次权益")
_LIST_FIELDS = ("委托", "成交", "持仓")


class RiskServiceUnavailable(ConnectionError):
    """The real-time service at host:port did not answer, or answered unintelligibly."""

    def __init__(self, host: str, port: str, reason: str):
        self.host, self.port, self.reason = host, port, reason
        super().__init__(f"risk platform real-time service {host}:{port} unavailable: {reason}")


def _answer(payload: dict) -> dict:
    """The answer dict with every field present, whatever the service left out."""
    answer = {"登录成功": bool(payload.get("登录成功", False)),
              "错误信息": str(payload.get("错误信息", "") or "")}
    for name in _LIST_FIELDS:
        answer[name] = [dict(item) for item in payload.get(name) or []]
    answer["交易日"] = str(payload.get("交易日", "") or "")
    for name in FUNDS_FIELDS:
        answer[name] = float(payload.get(name) or 0.0)
    return answer


def query_trader_all_info(IP, PORT, UID, PWD):  # noqa: N803 - the platform's own parameter names
    """Orders, deals, positions and funds of trader UID for the current trading day."""
    for name, value in (("IP", IP), ("PORT", PORT), ("UID", UID), ("PWD", PWD)):
        if not isinstance(value, str):
            raise TypeError(f"query_trader_all_info: {name} must be a str, got {type(value).__name__}")
    if not PORT.isdigit():
        raise ValueError(f"query_trader_all_info: PORT must be digits, got {PORT!r}")
    request = urllib.request.Request(
        f"http://{IP}:{PORT}/api/trader/all_info",
        data=json.dumps({"uid": UID, "pwd": PWD}).encode(),
        headers={"Content-Type": "application/json; charset=utf-8"},
        method="POST",
    )
    try:
        with urllib.request.urlopen(request, timeout=TIMEOUT_SECONDS) as response:
            raw = response.read()
    except urllib.error.HTTPError as error:
        if error.code == 401:  # refused login: the body is still a trader answer
            raw = error.read()
        else:
            raise RiskServiceUnavailable(IP, PORT, f"HTTP {error.code} {error.reason}") from None
    except (urllib.error.URLError, socket.timeout, TimeoutError, ConnectionError, OSError) as error:
        reason = getattr(error, "reason", error)
        raise RiskServiceUnavailable(IP, PORT, str(reason)) from None
    try:
        payload = json.loads(raw.decode("utf-8"))
    except (UnicodeDecodeError, ValueError):
        raise RiskServiceUnavailable(IP, PORT, "answer is not JSON") from None
    if not isinstance(payload, dict) or "登录成功" not in payload:
        raise RiskServiceUnavailable(IP, PORT, "answer is not a trader answer")
    return _answer(payload)
