"""The recording doubles of the tests, in one place. Each stands in for a client, a connection
or a client library and writes down the calls made to it (and, where it passes them on, makes
them for real):

    Recording        wraps a real client or connection; `before` can make a call fail
    StoreRecorder    the ClickHouse client and both Redis connections of an account, with canned answers
    LibraryRecorder  the clickhouse_connect and redis modules, for the constructor's exact calls
    RecordingConnect a library's connect function, passed on to the real one
    Answering        a client whose every query answers given rows (or raises a given error)

`sql(text)` is a statement with its white space outside quotes made single blanks, and
`statements(calls)` recorded calls with their statements so, for comparing statements whatever the
line breaks and indentation of the C++ source they come from.
"""
import json

import redis
import re
import types

_WHITE_SPACE_OR_QUOTED = re.compile(r"('(?:[^'\\]|\\.)*')|\s+")


def sql(text):
    return _WHITE_SPACE_OR_QUOTED.sub(lambda m: m.group(1) or " ", text).strip()


def statements(calls):
    """Recorded calls with the text of each statement ("command", "query") passed through `sql`."""
    return [(call[0], sql(call[1]), *call[2:]) if call[0] in ("command", "query") else call for call in calls]


class Recording:
    """Stands in for a client or connection: passes every method call on to `target` and notes
    it in `calls` as (method name, *positional arguments). `before(name, *args)`, when given,
    runs first and may raise, as a failing service would."""

    def __init__(self, target, calls=None, before=None):
        self.target, self.calls, self.before = target, [] if calls is None else calls, before

    def __getattr__(self, name):
        real = getattr(self.target, name)
        if not callable(real):
            return real

        def call(*args, **kwargs):
            self.calls.append((name,) + args)
            if self.before is not None:
                self.before(name, *args)
            return real(*args, **kwargs)
        return call


class StoreRecorder:
    """Stands in for the ClickHouse client and the Redis connections of an account object: records
    every statement and hash operation in the order they are issued; queries answer `count`, hkeys
    two fields of account 8100, the upload lock is always free."""

    def __init__(self, count=0):
        self.calls, self.count, self.locks = [], count, {}

    def command(self, statement):
        self.calls.append(("command", statement))

    def query(self, statement):
        self.calls.append(("query", statement))
        return type("Result", (), {"result_set": [(self.count,)], "column_names": ["n"]})()

    def hset(self, day, mapping):
        self.calls.append(("hset", day, mapping))

    def hkeys(self, day):
        self.calls.append(("hkeys", day))
        return ["8100_k9", "8100_k1"]

    def hmget(self, day, fields):
        self.calls.append(("hmget", day, fields))
        return [json.dumps({"account_id": field.split("_")[0]}) for field in fields]

    def hdel(self, *args):
        self.calls.append(("hdel",) + args)

    def set(self, key, token, nx, px):
        self.calls.append(("set", key, nx, px))
        self.locks[key] = token
        return True

    def eval(self, script, numkeys, key, token, *expiry):
        if expiry:  # renewal of the upload lock
            self.calls.append(("renew", key))
            return int(self.locks.get(key) == token)
        self.calls.append(("give back", key))
        return int(self.locks.pop(key) == token)


class LibraryRecorder:
    """Stands in for the client libraries and writes down every call made to them."""

    def __init__(self, register_count=1, copy_rows=()):
        self.calls = []
        self.register_count = register_count
        self.copy_rows = list(copy_rows)

    def get_client(self, *args, **kwargs):
        self.calls.append(("get_client", args, kwargs))
        return self

    def query(self, sql):
        self.calls.append(("query", sql))
        rows = [(self.register_count,)] if "t_account_info" in sql else self.copy_rows
        return types.SimpleNamespace(result_set=rows)

    exceptions, retry, backoff = redis.exceptions, redis.retry, redis.backoff

    def Redis(self, *args, retry=None, **kwargs):
        # The retry policy as its count and the errors it repeats.
        self.calls.append(("Redis", args, {**kwargs, "retry": (retry._retries, retry._supported_errors)}))
        return self

    def ping(self):
        self.calls.append(("ping",))
        return True


class RecordingConnect:
    """Stands in for a library's connect function: remembers each call's keywords (in order),
    what it opened and which of those were closed, optionally changing a keyword, and passes the
    call on to the real one. With `query_error`, every query of an opened client raises it."""
    def __init__(self, real, query_error=None, **override):
        self.real, self.override, self.query_error = real, override, query_error
        self.calls, self.opened, self.closed = [], [], []

    def __call__(self, **kwargs):
        self.calls.append(list(kwargs.items()))
        opened = self.real(**{**kwargs, **self.override})
        self.opened.append(opened)
        close = opened.close
        opened.close = lambda: self.closed.append(opened) or close()
        if self.query_error is not None:
            opened.query = self.fail
        return opened

    def fail(self, *args, **kwargs):
        raise self.query_error


class Answering:
    """A client that answers every query with the given rows, or fails with the given error."""
    def __init__(self, rows=(), columns=(), error=None):
        self.result = types.SimpleNamespace(result_set=list(rows), column_names=tuple(columns))
        self.error = error

    def query(self, statement):
        if self.error:
            raise self.error
        return self.result
