"""Which servers an account object talks to, and with exactly which settings."""
import types

import pytest
import redis

import Norvane
from doubles import LibraryRecorder, statements
import norvane_sandbox as sandbox
from norvane_sandbox.seed import DEMO

def host(variable):
    """The address the module should read for `variable` (a test session's proxies)."""
    where = sandbox.config.client_endpoints()
    return {"NORVANE_DB_HOST": where.db_host,
            "NORVANE_REDIS_PROD_HOST": where.redis_prod_host,
            "NORVANE_REDIS_PROD67_HOST": where.redis_prod67_host,
            "NORVANE_REDIS_PROD65_HOST": where.redis_prod65_host}[variable]


def connection_settings(connection):
    kwargs = connection.connection_pool.connection_kwargs
    return kwargs["host"], kwargs["password"]


@pytest.mark.parametrize("env, variable, password", [
    ("prod", "NORVANE_REDIS_PROD_HOST", "71plm@48okn"),
    ("prod67", "NORVANE_REDIS_PROD67_HOST", "71plm@48okn"),
    ("prod65", "NORVANE_REDIS_PROD65_HOST", "71plm@48okn"),
    ("test", "NORVANE_DB_HOST", "!Tjelmuk@pvo"),
    ("Prod", "NORVANE_DB_HOST", "!Tjelmuk@pvo"),
    ("prod ", "NORVANE_DB_HOST", "!Tjelmuk@pvo"),
    ("prod6", "NORVANE_DB_HOST", "!Tjelmuk@pvo"),
    ("", "NORVANE_DB_HOST", "!Tjelmuk@pvo"),
])
def test_env_picks_its_redis_and_the_copy_redis_is_always_the_test_one(norvane_stack, env, variable, password):
    account = Norvane.Norvane(DEMO["real_account"], DEMO["acquire_info_key"], DEMO["user_id"], env)
    assert account.env == env and account.login == 0  # the chosen server answered the ping
    assert connection_settings(account.redis_conn) == (host(variable), password)
    assert connection_settings(account.copy_redis_conn) == (host("NORVANE_DB_HOST"), "!Tjelmuk@pvo")


def test_exact_calls_of_the_constructor(monkeypatch, clock):
    recorder = LibraryRecorder(copy_rows=[("C-1",), ("C-2",)])
    monkeypatch.setattr(Norvane, "clickhouse_connect", recorder)
    monkeypatch.setattr(Norvane, "redis", recorder)
    clock("2025-08-29 09:30:00")
    account = Norvane.Norvane("8800'1", "key\\x", "u1", "prod")
    # Every command, the connect included, within 3 s; a refused or dropped connection is tried
    # once more, a time-out never.
    redis_settings = dict(port=6379, db=0, decode_responses=True, socket_timeout=3.0, socket_connect_timeout=3.0,
                          retry=(1, (redis.exceptions.ConnectionError,)), retry_on_error=[redis.exceptions.ConnectionError])
    assert statements(recorder.calls) == statements([
        ("get_client", (), dict(host=host("NORVANE_DB_HOST"), port=23875, username="norvane",
                                password="Wanders_gk_7!", connect_timeout=3, send_receive_timeout=10)),
        ("Redis", (), dict(host=host("NORVANE_REDIS_PROD_HOST"), password="71plm@48okn", **redis_settings)),
        ("query", "select count(*) n from factors.t_account_info where '2025-08-29 09:30:00' >= zip_begindate"
                  " and '2025-08-29 09:30:00' < zip_enddate and account_id = '8800\\'1' and acquire_info_key = 'key\\\\x'"),
        ("ping",),
        ("Redis", (), dict(host=host("NORVANE_DB_HOST"), password="!Tjelmuk@pvo", **redis_settings)),
        ("query", "select copy_account_id from factors.t_assetacc_match where account_id = '8800\\'1' and is_valid = 1"),
    ])
    assert account.copy_account_id == "C-1"


def test_replaced_library_names_are_heard_by_the_next_call(monkeypatch):
    first, second = LibraryRecorder(), LibraryRecorder()
    monkeypatch.setattr(Norvane, "clickhouse_connect", first)
    monkeypatch.setattr(Norvane, "redis", first)
    account = Norvane.Norvane("a", "k", "u")
    monkeypatch.setattr(Norvane, "clickhouse_connect", second)
    account.fun_clickhouse_connect()
    assert [c[0] for c in second.calls] == ["get_client"]
    assert account.client is second


@pytest.mark.parametrize("reconnect_fails", [False, True])
def test_a_reconnect_closes_the_client_it_replaces(norvane_stack, monkeypatch, capsys, reconnect_fails):
    account = Norvane.Norvane(DEMO["real_account"], DEMO["acquire_info_key"], DEMO["user_id"])
    replaced, closed = account.client, []
    replaced.close = lambda: closed.append(True)
    if reconnect_fails:
        monkeypatch.setenv("NORVANE_CLICKHOUSE_PASSWORD", "not-the-password")
    account.fun_clickhouse_connect()
    if reconnect_fails:  # the old client stays, open
        assert (account.client, account.connect_tag, closed) == (replaced, 4003, [])
    else:
        assert account.client is not replaced and account.connect_tag == 0 and closed == [True]
        assert account.fun_read_info()["code"] == 0


ROTATED = {
    "NORVANE_CLICKHOUSE_PASSWORD": "rotated-clickhouse",
    "NORVANE_FACTORS_PASSWORD": "rotated-factors",
    "NORVANE_REDIS_PROD_PASSWORD": "rotated-prod-redis",
    "NORVANE_REDIS_TEST_PASSWORD": "rotated-test-redis",
    "NORVANE_MYSQL_PASSWORD": "rotated-mysql",
    "NORVANE_RISK_PASSWORD": "rotated-risk",
}


def passwords_in(calls):
    return [kwargs["password"] for name, _, kwargs in (c for c in calls if len(c) == 3)]


def test_every_password_is_read_from_the_environment_at_each_connection(monkeypatch):
    for variable, value in ROTATED.items():
        monkeypatch.setenv(variable, value)
    recorder = LibraryRecorder()
    monkeypatch.setattr(Norvane, "clickhouse_connect", recorder)
    monkeypatch.setattr(Norvane, "redis", recorder)
    Norvane.Norvane("88000001", "k", "u", "prod")
    Norvane.Norvane("88000001", "k", "u", "test")
    assert passwords_in(recorder.calls) == [
        "rotated-clickhouse", "rotated-prod-redis", "rotated-test-redis",
        "rotated-clickhouse", "rotated-test-redis", "rotated-test-redis"]

    account, seen = Norvane.Norvane("88000001", "k", "u"), []

    def remember(*args, **kwargs):
        seen.append(kwargs.get("password", args[-1] if args else None))
        raise ConnectionError("stop here")
    monkeypatch.setattr(Norvane, "clickhouse_connect", types.SimpleNamespace(get_client=remember))
    monkeypatch.setattr(Norvane, "pymysql", types.SimpleNamespace(connect=remember))
    monkeypatch.setattr(Norvane, "query_trader_all_info", remember)
    Norvane.Norvane.factors_value("net", "20250829", "20250829")
    with pytest.raises(ConnectionError):
        Norvane.Norvane.mysql_248("select 1")
    with pytest.raises(ConnectionError):
        account.fun_read_order()
    assert seen == ["rotated-factors", "rotated-mysql", "rotated-risk"]


def leak(*args, **kwargs):
    raise ConnectionError("tried " + ", ".join(ROTATED.values()))


@pytest.mark.parametrize("surface", ["printed line", "caught record", "history reader record"])
def test_no_password_shows_in_a_printed_line_or_a_record(monkeypatch, capsys, surface):
    for variable, value in ROTATED.items():
        monkeypatch.setenv(variable, value)
    monkeypatch.setattr(Norvane, "clickhouse_connect", types.SimpleNamespace(get_client=leak))
    account = Norvane.Norvane.__new__(Norvane.Norvane)
    account.client, account.login, account.connect_tag, account.account_id = None, 0, 0, "88000001"
    if surface == "printed line":
        account.fun_clickhouse_connect()
        text = capsys.readouterr().out
    elif surface == "caught record":
        text = Norvane.Norvane.factors_value("net", "20250829", "20250829")["msg"]
    else:
        account.client = types.SimpleNamespace(query=leak)
        text = account.fun_read_deal("20250801", "20250802")["msg"]
    assert "tried ***, ***, ***, ***, ***, ***" in text
    assert not any(password in text for password in ROTATED.values())
