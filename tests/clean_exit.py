"""A desk script's whole life in one process: import, open the seeded real account on the local
stack, call one method of each subsystem, and end with the objects still alive, so that the
interpreter tears them down at exit. Any failure exits non-zero with a traceback; a clean run
prints one line and exits 0 with nothing on stderr.

Run by the test suite (tests/test_module.py) and by `./dev matrix` under each interpreter, with
the repository root on PYTHONPATH and the stack running and seeded.
"""
import Norvane
from norvane_sandbox.seed import DEMO

account = Norvane.Norvane(DEMO["real_account"], DEMO["acquire_info_key"], DEMO["user_id"], "test")
first_day, last_day = DEMO["signal_days"][0], DEMO["signal_days"][-1]
history_start, history_end = (day.replace("-", "") for day in DEMO["trading_days"][::2])
answers = {
    "account": account.fun_read_info(),
    "signals": account.fun_read_signal(first_day, last_day),
    "records": account.fun_read_deal(history_start, history_end),
    "records, real time": account.fun_read_equity(),
    "live": account.fun_redis_position(),
    "splitting": account.fun_search_split_mode("current"),
    "research": Norvane.Norvane.factors_value("net", history_start, history_end),
    "research, trade database": account.post_trade_analysis(history_start, history_end),
}
failed = {subsystem: answer for subsystem, answer in answers.items() if answer["code"] != 0}
assert not failed, failed
print(f"clean exit check: {len(answers)} calls answered, login={account.login}")
