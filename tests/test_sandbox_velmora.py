"""The stand-in risk platform library against the real-time service simulator."""
import socket

import pytest

from norvane_sandbox.seed import DEMO


def ask(velmora, where, uid=DEMO["risk_uid"], pwd=DEMO["risk_password"], port=None):
    return velmora.query_trader_all_info(where.risk_host, str(port or where.risk_port), uid, pwd)


def test_seeded_trader_answer(velmora, norvane_stack):
    answer = ask(velmora, norvane_stack)
    assert answer["登录成功"] is True and answer["交易日"] == "20250829"
    assert {d["成交编号"] for d in answer["成交"]} == {"T20250829-0001", "T20250829-0002"}
    assert {p["合约"]: p["总持仓"] for p in answer["持仓"]} == {"rb2510": 3, "m2601": 2}
    assert len(answer["委托"]) == 3
    equity = answer["上次权益"] + answer["入金"] - answer["出金"] + answer["平仓盈亏"] + answer["持仓盈亏"] - answer["手续费"]
    assert equity == pytest.approx(answer["账户权益"])
    margin = sum(p["占用保证金"] for p in answer["持仓"])
    assert answer["可用资金"] == pytest.approx(answer["账户权益"] - margin)


@pytest.mark.parametrize("uid, pwd", [(DEMO["risk_uid"], "000000"), ("99999999", DEMO["risk_password"]),
                                      (DEMO["risk_locked_account"], DEMO["risk_password"])])
def test_refused_login_is_an_answer(velmora, norvane_stack, uid, pwd):
    answer = ask(velmora, norvane_stack, uid, pwd)
    assert answer["登录成功"] is False and answer["错误信息"]
    assert answer["委托"] == answer["成交"] == answer["持仓"] == []
    assert set(velmora.FUNDS_FIELDS) <= set(answer)


def test_unreachable_service_raises_its_own_error(velmora, norvane_stack):
    with socket.socket() as probe:  # a port on the simulator's address that nothing listens on
        probe.bind((norvane_stack.risk_host, 0))
        free_port = probe.getsockname()[1]
    with pytest.raises(velmora.RiskServiceUnavailable, match=f"{norvane_stack.risk_host}:{free_port}"):
        ask(velmora, norvane_stack, port=free_port)


def test_arguments_must_be_strings(velmora, norvane_stack):
    with pytest.raises(TypeError, match="PORT"):
        velmora.query_trader_all_info(norvane_stack.risk_host, norvane_stack.risk_port, "88001234", "804317")
