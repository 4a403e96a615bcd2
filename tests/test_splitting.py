"""Order splitting on the local stack: TWAP settings, split-mode query, change and return."""
import datetime as real_datetime
import math
import types
import uuid

import pytest

import Norvane
from doubles import statements
from hostile import HostileFloat, HostileInt

LABELS = ["拆单方式ID", "报单价格", "是否使用拆单", "总时长（分钟）", "报单时间间隔（秒）",
          "撤单时长（秒）", "拆单单笔最大手数", "拆单单笔最小手数"]
PARAMETERS = ("trade_price", "twap", "sum_twap", "twap_time_gap", "cancel_cmd_time",
              "split_volume_max", "split_volume_min")


@pytest.fixture
def params(norvane_clickhouse_writer):
    """Rows of the two parameter tables; None is written as NULL."""
    def literal(value):
        return "NULL" if value is None else repr(value)

    def add(table, key_columns, values):
        norvane_clickhouse_writer.command(
            f"INSERT INTO strategy.{table} ({', '.join(key_columns + PARAMETERS)}) VALUES"
            f" ({', '.join(literal(v) for v in values)})")
    return types.SimpleNamespace(
        user=lambda user_id, env, *values: add("param_user_info", ("user_id", "env"), (user_id, env) + values),
        account=lambda account_id, *values: add("param_account_info", ("account_id",), (account_id,) + values))


@pytest.fixture
def desk(norvane_stack, register, params, new_id):
    """An account of the test's own with user defaults for both env classes, and one split mode."""
    def make(env="test", register_env=None):
        user, account_id = new_id("u"), new_id()
        mode = "4321" + uuid.uuid4().hex[:10]
        params.user(user, "test", "opponent", 1, 10, 30, 10, 20, 1)
        params.user(user, "prod", "last", 1, 20, 60, 15, 50, 2)
        params.account(mode, "queue", 1, 5, None, 8, None, 3)
        register(account_id, "key", user_id=user, env=register_env or env)
        account = Norvane.Norvane(account_id, "key", user, env)
        return types.SimpleNamespace(account=account, id=account_id, user=user, mode=mode)
    return make


def rows(account_id, *values):
    return [dict(zip(LABELS, (account_id,) + values))]


def answer(data, change=None):
    return {"code": 0, "msg": "success", "data": data, "set_mode_info": change or {}}


def at(monkeypatch, moment):
    """Sets the module's local clock to `moment` (microseconds kept)."""
    class FixedDatetime(real_datetime.datetime):
        @classmethod
        def now(cls, tz=None):
            return moment
    monkeypatch.setattr(Norvane, "datetime", types.SimpleNamespace(datetime=FixedDatetime))


def record(ts, hours, mode):
    """The interpreter's own text of the record dict: the form the hash holds."""
    return str({"ts": ts, "effective_hour": hours, "split_mode": mode})


class TestEffectiveParameters:
    def test_override_values_win_and_its_nulls_fall_back_to_the_user_default(self, desk, params):
        d = desk()
        assert d.account.fun_search_split_mode("default") == answer(rows(d.id, "opponent", 1, 10, 30, 10, 20, 1))
        params.account(d.id, None, 0, None, 45, None, None, 7)
        expected = answer(rows(d.id, "opponent", 0, 10, 45, 10, 20, 7))
        assert d.account.fun_search_split_mode("default") == expected
        assert d.account.fun_search_split_mode("current") == expected  # no field in the hash

    @pytest.mark.parametrize("env, register_env", [("prod65", "prod"), ("prod67", "prod"), ("prod", "prod")])
    def test_every_env_but_test_reads_the_prod_rows(self, desk, env, register_env):
        d = desk(env, register_env)
        assert d.account.fun_search_split_mode("default") == answer(rows(d.id, "last", 1, 20, 60, 15, 50, 2))

    @pytest.mark.parametrize("change", [
        {"user_id": "nobody"}, {"trade_flag": "F"}, {"env": "prod"},
        {"zip_enddate": "2021-01-01 00:00:00"}])
    def test_accounts_without_live_matching_rows_get_no_rows(self, desk, norvane_clickhouse_writer, change):
        d = desk()
        [(column, value)] = change.items()
        norvane_clickhouse_writer.command(f"ALTER TABLE factors.t_account_info UPDATE {column} = '{value}'"
                                  f" WHERE account_id = '{d.id}' SETTINGS mutations_sync = 1")
        assert d.account.fun_search_split_mode("default") == answer([])

    def test_available_lists_every_mode_row_under_its_id(self, desk):
        d = desk()
        data = d.account.fun_search_split_mode("available")["data"]
        assert all(row["拆单方式ID"].startswith("4321") for row in data)
        assert dict(zip(LABELS, (d.mode, "queue", 1, 5, None, 8, None, 3))) in data

    @pytest.mark.parametrize("mode", ["Current", "", "DEFAULT", None])
    def test_other_modes_are_refused(self, desk, mode):
        assert desk().account.fun_search_split_mode(mode) == {
            "code": 2, "msg": "mode枚举值需要在 ['current', 'available', 'default']之中 "}


class TestTemporaryMode:
    def test_a_change_in_effect_takes_the_modes_row_over_the_user_default(self, desk, redis):
        d = desk()
        ts = real_datetime.datetime.now() - real_datetime.timedelta(seconds=7200 - 60)
        redis.hset("split_mode", d.id, record(ts, 2, d.mode))
        assert d.account.fun_search_split_mode("current") == answer(
            rows(d.id, "queue", 1, 5, 30, 8, 20, 3), {"ts": ts, "effective_hour": 2, "split_mode": d.mode})
        assert d.account.fun_search_split_mode("default") == answer(rows(d.id, "opponent", 1, 10, 30, 10, 20, 1))

    @pytest.mark.parametrize("hours, age", [(2, 7200 + 1), (0.5, 1800 + 1), (-1, 0)])
    def test_an_expired_change_or_a_return_to_the_default_is_not_in_effect(self, desk, redis, hours, age):
        d = desk()
        ts = real_datetime.datetime.now() - real_datetime.timedelta(seconds=age)
        redis.hset("split_mode", d.id, record(ts, hours, d.mode if hours > 0 else "default"))
        assert d.account.fun_search_split_mode("current") == answer(rows(d.id, "opponent", 1, 10, 30, 10, 20, 1))

    @pytest.mark.parametrize("hours, elapsed, running", [
        (2, real_datetime.timedelta(seconds=7200) - real_datetime.timedelta(microseconds=1), True),
        (2, real_datetime.timedelta(seconds=7200), False),
        (0.5, real_datetime.timedelta(seconds=1800) - real_datetime.timedelta(microseconds=1), True),
        (0.5, real_datetime.timedelta(seconds=1800), False),
    ])
    def test_a_change_ends_exactly_when_its_hours_have_passed(
            self, desk, redis, monkeypatch, hours, elapsed, running):
        d = desk()
        ts = real_datetime.datetime(2025, 8, 29, 9, 30, 5, 250000)
        redis.hset("split_mode", d.id, record(ts, hours, d.mode))
        at(monkeypatch, ts + elapsed)
        current = d.account.fun_search_split_mode("current")
        if running:
            assert current == answer(rows(d.id, "queue", 1, 5, 30, 8, 20, 3),
                                     {"ts": ts, "effective_hour": hours, "split_mode": d.mode})
        else:
            assert current == answer(rows(d.id, "opponent", 1, 10, 30, 10, 20, 1))

    @pytest.mark.parametrize("text", [
        "{'ts': datetime.datetime(2025, 8, 29, 9, 30, 5, 0), 'effective_hour': 2, 'split_mode': 'M'}",
        "{'ts': datetime.datetime(2025, 8, 29, 9, 30, 0), 'effective_hour': 2, 'split_mode': 'M'}",
        "{'ts': datetime.datetime(2025, 8, 29, 09, 30), 'effective_hour': 2, 'split_mode': 'M'}",
        "{'ts': datetime.datetime(2025, 13, 29, 9, 30), 'effective_hour': 2, 'split_mode': 'M'}",
        "{'ts': datetime.datetime(2025, 8, 29, 9, 30), 'effective_hour': 2., 'split_mode': 'M'}",
        "{'ts': datetime.datetime(2025, 8, 29, 9, 30), 'effective_hour': 1e3, 'split_mode': 'M'}",
        "{'ts': datetime.datetime(2025, 8, 29, 9, 30), 'effective_hour': 2, 'split_mode': \"M\"}",
        "{'ts': datetime.datetime(2025, 8, 29, 9, 30), 'effective_hour': 2, 'split_mode': 'M'} ",
        "{'ts': datetime.datetime(2025, 8, 29, 9, 30),  'effective_hour': 2, 'split_mode': 'M'}",
        "{'effective_hour': 2, 'ts': datetime.datetime(2025, 8, 29, 9, 30), 'split_mode': 'M'}",
        "{'ts': __import__('os').system('true'), 'effective_hour': 2, 'split_mode': 'M'}",
    ])
    def test_only_the_exact_record_form_is_read(self, desk, redis, text):
        d = desk()
        redis.hset("split_mode", d.id, text)
        current = d.account.fun_search_split_mode("current")
        assert current["code"] == 1 and list(current) == ["code", "msg"]
        assert current["msg"].startswith("ValueError(")
        assert d.account.fun_search_split_mode("default")["code"] == 0
        assert d.account.fun_search_split_mode("available")["code"] == 0


class TestSplitModeChange:
    @pytest.mark.parametrize("moment, hours, ts_text", [
        (real_datetime.datetime(2025, 8, 29, 9, 30, 5, 123456), 2, "2025, 8, 29, 9, 30, 5, 123456"),
        (real_datetime.datetime(2025, 8, 29, 9, 30, 0, 7), 1.5, "2025, 8, 29, 9, 30, 0, 7"),
        (real_datetime.datetime(2025, 8, 29, 9, 30, 5), 23.0, "2025, 8, 29, 9, 30, 5"),
        (real_datetime.datetime(2025, 1, 2, 0, 0), 0.25, "2025, 1, 2, 0, 0"),
    ])
    def test_the_record_text_is_the_dicts_own_and_reads_back_equal(
            self, desk, redis, norvane_clickhouse_writer, monkeypatch, moment, hours, ts_text):
        d = desk()
        at(monkeypatch, moment)
        seconds = moment.strftime("%Y-%m-%d %H:%M:%S")
        assert d.account.fun_set_split_mode(d.mode, hours) == {"code": 0, "msg": (
            f"success. start_time: {seconds}, effective_hour: {hours}, split_mode: {d.mode} ")}
        text = redis.hget("split_mode", d.id)
        assert text == ("{'ts': datetime.datetime(" + ts_text + f"), 'effective_hour': {hours!r},"
                        f" 'split_mode': '{d.mode}'}}")
        assert text == record(moment, hours, d.mode)
        current = d.account.fun_search_split_mode("current")["set_mode_info"]
        assert current == {"ts": moment, "effective_hour": hours, "split_mode": d.mode}
        assert type(current["effective_hour"]) is type(hours)
        assert norvane_clickhouse_writer.query(
            "SELECT split_mode, ts, effective_hour FROM strategy.param_modify_log"
            f" WHERE account_id = '{d.id}'").result_rows == [(d.mode, seconds, hours)]

    def test_mode_check_then_ping_then_log_row_then_redis_field(self, desk, clock, recording):
        d = desk()
        clock("2025-08-29 09:30:00")
        calls = []
        d.account.client = recording(d.account.client, calls)
        d.account.redis_conn = recording(d.account.redis_conn, calls)
        d.account.fun_set_split_mode(d.mode, 2)
        assert statements(calls) == statements([
            ("query", "select count(*) as n from strategy.param_account_info"
                      f" where account_id like '4321%' and account_id = '{d.mode}'"),
            ("ping",),
            ("command", "INSERT INTO strategy.param_modify_log (account_id, split_mode, ts, effective_hour)"
                        f" VALUES ('{d.id}', '{d.mode}', '2025-08-29 09:30:00', 2)"),
            ("hset", "split_mode", d.id,
             f"{{'ts': datetime.datetime(2025, 8, 29, 9, 30), 'effective_hour': 2, 'split_mode': '{d.mode}'}}"),
        ])

    @pytest.mark.parametrize("args, msg", [
        ((), "mode, effective_hour 不能为空"),
        (("", -1), "mode, effective_hour 不能为空"),
        (("", 5), "mode, effective_hour 不能为空"),
        (("MODE", -1.0), "mode, effective_hour 不能为空"),
        (("MODE", 0), "effective_hour 范围 0-24 "),
        (("MODE", 24), "effective_hour 范围 0-24 "),
        (("MODE", math.nan), "effective_hour 范围 0-24 "),
        (("default", 2), "mode default 不在可选项目中"),
        (("4321no-such-mode", 23.9), "mode 4321no-such-mode 不在可选项目中"),
    ])
    def test_refused_changes_write_nothing(self, desk, args, msg, recording):
        d = desk()
        args = tuple(d.mode if a == "MODE" else a for a in args)
        calls = []
        d.account.client = recording(d.account.client, calls)
        d.account.redis_conn = recording(d.account.redis_conn, calls)
        assert d.account.fun_set_split_mode(*args) == {"code": 2, "msg": msg}
        assert [c[0] for c in calls] in ([], ["query"])

    def test_a_silent_redis_after_the_mode_check_writes_nothing(self, desk, norvane_clickhouse_writer, monkeypatch):
        d = desk()
        monkeypatch.setattr(type(d.account.redis_conn), "ping", lambda self: False)
        assert d.account.fun_set_split_mode(d.mode, 2) == {"code": 1, "msg": "redis.ping return False"}
        assert norvane_clickhouse_writer.command(
            f"SELECT count() FROM strategy.param_modify_log WHERE account_id = '{d.id}'") == 0

    def test_return_to_the_default_ends_a_running_change_at_once(self, desk, redis, norvane_clickhouse_writer):
        d = desk()
        d.account.fun_set_split_mode(d.mode, 5)
        assert d.account.fun_search_split_mode()["set_mode_info"]["split_mode"] == d.mode
        assert d.account.fun_back_to_default_split_mode() == {"code": 0, "msg": "success"}
        assert d.account.fun_search_split_mode() == answer(rows(d.id, "opponent", 1, 10, 30, 10, 20, 1))
        assert redis.hget("split_mode", d.id).endswith("'effective_hour': -1, 'split_mode': 'default'}")
        logged = norvane_clickhouse_writer.query(
            "SELECT split_mode, effective_hour FROM strategy.param_modify_log"
            f" WHERE account_id = '{d.id}'").result_rows
        assert sorted(logged) == [(d.mode, 5.0), ("default", -1.0)]


class TestTwapUpload:
    def stored(self, norvane_clickhouse_writer, account_id):
        return norvane_clickhouse_writer.query(
            "SELECT commodity, if_twap, time_gap, volume, update_time FROM factors.TWAP_config"
            f" WHERE account_id = '{account_id}' ORDER BY commodity, time_gap").result_rows

    def test_valid_rows_are_stored_upper_cased_with_one_update_time(self, desk, norvane_clickhouse_writer):
        d = desk()
        given = [
            {"commodity": "ag", "if_twap": 1, "time_gap": 30, "volume": 5, "note": "extra"},
            {"commodity": "AG", "if_twap": 1.0, "time_gap": 0.5, "volume": 0},
            {"commodity": "o'k", "if_twap": 0, "time_gap": 0, "volume": 10.0},
            {"commodity": "cu", "if_twap": 2, "time_gap": 1, "volume": 1},
            {"commodity": "zn", "if_twap": 1, "time_gap": -1, "volume": 1},
            {"commodity": "al", "if_twap": 1, "time_gap": 1, "volume": -0.5},
            {"commodity": "ni", "if_twap": 1, "time_gap": None, "volume": 1},
        ]
        result = d.account.fun_update_TWAP_info(given)
        assert result["code"] == 0 and result["msg"].startswith("更新7, ")
        stamp = result["msg"][len("更新7, "):]
        assert self.stored(norvane_clickhouse_writer, d.id) == [
            ("AG", 1, 0.5, 0.0, stamp), ("AG", 1, 30.0, 5.0, stamp), ("O'K", 0, 0.0, 10.0, stamp)]

    def test_statement_text(self, desk, clock, recording):
        d = desk()
        clock("2025-08-29 09:30:00")
        calls = []
        d.account.client = recording(d.account.client, calls)
        d.account.fun_update_TWAP_info({"commodity": ["ag", "m"], "if_twap": [1, 0],
                                        "time_gap": [30, 0.5], "volume": [5, 10.0]})
        columns = '"commodity", "if_twap", "time_gap", "volume", "account_id", "update_time"'
        assert calls == [
            ("command", f"INSERT into factors.TWAP_config ({columns}) values"
                        f" ('AG', 1, 30.0, 5.0, '{d.id}', '2025-08-29 09:30:00'),"
                        f" ('M', 0, 0.5, 10.0, '{d.id}', '2025-08-29 09:30:00');"),
        ]
        calls.clear()
        d.account.fun_update_TWAP_info({"commodity": ["ag"], "if_twap": [1], "time_gap": [30], "volume": [5]})
        assert calls[0][1].endswith(f" values ('AG', 1, 30, 5, '{d.id}', '2025-08-29 09:30:00');")

    def test_numbers_are_written_from_their_value(self, desk, clock, recording):
        d = desk()
        clock("2025-08-29 09:30:00")
        calls = []
        d.account.client = recording(d.account.client, calls)
        d.account.fun_update_TWAP_info({"commodity": ["ag"], "if_twap": [HostileInt(1)],
                                        "time_gap": [HostileFloat(2.5)], "volume": [HostileInt(5)]})
        assert calls[0][1].endswith(f" values ('AG', 1, 2.5, 5, '{d.id}', '2025-08-29 09:30:00');")

    def test_a_row_that_cannot_be_written_stops_the_upload_before_its_first_insert(
            self, desk, norvane_clickhouse_writer):
        d = desk()
        with pytest.raises(UnicodeEncodeError):
            d.account.fun_update_TWAP_info({"commodity": ["cu", "z\ud800"], "if_twap": [1, 1],
                                            "time_gap": [1, 1], "volume": [1, 1]})
        assert self.stored(norvane_clickhouse_writer, d.id) == []

    @pytest.mark.parametrize("given, msg", [
        ({}, "输入数据缺少 commodity 列输入数据缺少 if_twap 列输入数据缺少 time_gap 列输入数据缺少 volume 列"),
        ({"commodity": ["ag"], "time_gap": [1]}, "输入数据缺少 if_twap 列输入数据缺少 volume 列"),
        ({"commodity": ["ag", "ag"], "if_twap": [1, 0], "time_gap": [1, 2], "volume": [1, 2]},
         "输入数据有重复数据, 请修改后重新执行"),
        ({"commodity": [], "if_twap": [], "time_gap": [], "volume": []}, "输入数据为空, 请修改后重新执行"),
    ])
    def test_rejected_inputs_write_nothing(self, desk, norvane_clickhouse_writer, given, msg):
        d = desk()
        assert d.account.fun_update_TWAP_info(given) == {"code": 2, "msg": msg}
        assert self.stored(norvane_clickhouse_writer, d.id) == []

    def test_all_rows_skipped_still_counts_them(self, desk, norvane_clickhouse_writer):
        d = desk()
        result = d.account.fun_update_TWAP_info({"commodity": ["a", "b"], "if_twap": [3, 1],
                                                 "time_gap": [1, -1], "volume": [1, 1]})
        assert result["code"] == 0 and result["msg"].startswith("更新2, ")
        assert self.stored(norvane_clickhouse_writer, d.id) == []


def test_the_seeded_real_account_runs_its_own_parameters_after_its_change_expired(norvane_stack):
    from norvane_sandbox.seed import DEMO
    account = Norvane.Norvane(DEMO["real_account"], DEMO["acquire_info_key"], DEMO["user_id"])
    assert account.redis_conn.hget("split_mode", DEMO["real_account"]).startswith(
        "{'ts': datetime.datetime(2025, 8, 29, 9, 0, 0, 215634)")
    assert account.fun_search_split_mode() == answer(rows(DEMO["real_account"], "opponent", 0, 10, 60, 10, 10, 1))
