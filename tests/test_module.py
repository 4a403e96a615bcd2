"""Loading the module, the shape of the account class, and a clean exit."""
import inspect
import os
import re
import subprocess
import sys
import textwrap
import types
from pathlib import Path

import pytest

import Norvane
import Velmora

REPO_ROOT = Path(__file__).resolve().parent.parent
LIBRARIES = ["clickhouse_connect", "datetime", "pd", "json", "redis", "types", "warnings", "pymysql", "os"]


def test_public_namespace_is_the_libraries_in_import_order_the_risk_platform_names_and_the_class():
    public = [n for n in vars(Norvane) if not n.startswith("_")]
    assert public == LIBRARIES + list(Velmora.__all__) + ["Norvane"]
    assert Norvane.pd.__name__ == "pandas"
    assert not hasattr(Norvane, "__all__")


def test_version_is_the_one_of_pyproject_the_readme_and_the_changelog():
    declared = re.search(r'^version = "(.+)"$', (REPO_ROOT / "pyproject.toml").read_text(), re.M).group(1)
    assert Norvane.__version__ == declared
    assert f"Norvane=={declared}" in (REPO_ROOT / "README.md").read_text()
    assert re.search(rf"^## {re.escape(declared)} ", (REPO_ROOT / "CHANGELOG.md").read_text(), re.M)


def python(code, *, path=(), check=False):
    """Runs `code` in a fresh interpreter, with `path` in front of the module search path."""
    env = {**os.environ, "PYTHONPATH": os.pathsep.join([*map(str, path), str(REPO_ROOT)])}
    return subprocess.run([sys.executable, "-c", code], capture_output=True, text=True, env=env,
                          check=check)


@pytest.mark.parametrize("package, body, last_line", [
    ("redis", "raise RuntimeError('redis is broken here')", "RuntimeError: redis is broken here"),
    ("pymysql", "import no_such_dependency", "ModuleNotFoundError: No module named 'no_such_dependency'"),
    ("Velmora", "raise OSError(5, 'no licence file')", "OSError: [Errno 5] no licence file"),
])
def test_a_failing_import_aborts_the_load_with_its_own_error(tmp_path, package, body, last_line):
    (tmp_path / f"{package}.py").write_text(body + "\n")
    done = python("import Norvane", path=[tmp_path])
    assert done.returncode == 1
    assert done.stderr.splitlines()[-1] == last_line
    assert "initialization failed" not in done.stderr


def test_what_a_library_warns_while_it_loads_stays_off_stderr(tmp_path):
    # As a library deprecating the interpreter does on every import.
    (tmp_path / "pymysql.py").write_text("import warnings\nwarnings.warn('this Python is old')\n")
    done = python("import Norvane, pymysql; print(pymysql.__name__)", path=[tmp_path])
    assert (done.stdout, done.stderr, done.returncode) == ("pymysql\n", "", 0)


def test_the_module_loads_once_the_failing_import_is_mended(tmp_path):
    (tmp_path / "Velmora.py").write_text("raise OSError('not yet')\n")
    done = python(textwrap.dedent(f"""
        import sys
        try:
            import Norvane
        except OSError:
            sys.path.remove({str(tmp_path)!r})
        import Norvane
        print(Norvane.Norvane.unix_to_datetime(0))
    """), path=[tmp_path])
    assert (done.stdout, done.stderr, done.returncode) == ("1970-01-01\n", "", 0)


def test_a_script_using_every_subsystem_exits_cleanly(norvane_stack):
    # The account object, its connections and tables are still alive when the interpreter ends:
    # nothing of the module may outlive the interpreter (a crash at exit on 3.12 and later).
    done = subprocess.run([sys.executable, str(REPO_ROOT / "tests" / "clean_exit.py")],
                          capture_output=True, text=True, env={**os.environ, "PYTHONPATH": str(REPO_ROOT)})
    assert (done.returncode, done.stderr) == (0, "")
    assert done.stdout.endswith("clean exit check: 8 calls answered, login=0\n")


def test_every_public_name_of_the_risk_platform_library_is_imported():
    public = getattr(Velmora, "__all__", [n for n in vars(Velmora) if not n.startswith("_")])
    for name in public:
        assert getattr(Norvane, name) is getattr(Velmora, name)
    assert Norvane.query_trader_all_info is Velmora.query_trader_all_info


def test_loading_switches_warnings_off_process_wide():
    # pytest resets warning filters around each test, so look from a fresh interpreter. (What the
    # libraries themselves warn while they load is theirs: -W always shows it.)
    script = ("import warnings, Norvane; warnings.warn('shown?', DeprecationWarning);"
              " print(warnings.filters[0][0])")
    done = subprocess.run([sys.executable, "-W", "always", "-c", script],
                          capture_output=True, text=True, check=True)
    assert done.stdout == "ignore\n" and "shown?" not in done.stderr


def test_account_class_is_a_plain_python_class_with_compiled_methods():
    cls = Norvane.Norvane
    assert cls.__bases__ == (object,)
    assert cls.__module__ == "Norvane" and cls.__name__ == "Norvane"
    instance = cls.__new__(cls)
    assert vars(instance) == {}
    instance.anything = 1  # a normal instance dict
    for name in ["__init__", "fun_clickhouse_connect", "fun_login", "fun_check_replicate",
                 "contract_format"]:
        raw = cls.__dict__[name]
        assert isinstance(raw.__func__, types.BuiltinFunctionType), name
        assert inspect.ismethod(getattr(instance, name)), name


def test_contract_format_does_nothing():
    instance = Norvane.Norvane.__new__(Norvane.Norvane)
    assert instance.contract_format() is None
    assert vars(instance) == {}


def test_signatures_show_arguments_and_defaults():
    assert str(inspect.signature(Norvane.Norvane.__init__)) == \
        "(self, /, account_id, acquire_key, user_id, env='test')"
    assert str(inspect.signature(Norvane.Norvane.fun_login)) == "(self, /)"


@pytest.mark.parametrize("args, kwargs, message", [
    (("a", "k"), {}, "__init__() missing 1 required positional argument: 'user_id'"),
    ((), {}, "__init__() missing 3 required positional arguments: 'account_id', 'acquire_key', and 'user_id'"),
    (("a", "k", "u", "test", "extra"), {}, "__init__() takes from 4 to 5 positional arguments but 6 were given"),
    (("a", "k", "u"), {"environment": "test"}, "__init__() got an unexpected keyword argument 'environment'"),
    (("a", "k", "u"), {"account_id": "b"}, "__init__() got multiple values for argument 'account_id'"),
])
def test_argument_errors_raise_before_any_step(monkeypatch, capsys, args, kwargs, message):
    def never(**_):
        raise AssertionError("the constructor ran")
    monkeypatch.setattr(Norvane, "clickhouse_connect", types.SimpleNamespace(get_client=never))
    with pytest.raises(TypeError) as raised:
        Norvane.Norvane(*args, **kwargs)
    assert str(raised.value) == message
    assert capsys.readouterr().out == ""


def test_instance_method_called_without_an_instance_is_a_type_error():
    with pytest.raises(TypeError, match=r"fun_login\(\) missing 1 required positional argument: 'self'"):
        Norvane.Norvane.fun_login()
    with pytest.raises(TypeError, match="takes 1 positional argument but 2 were given"):
        Norvane.Norvane.__new__(Norvane.Norvane).contract_format(1)


REFUSED = {"code": 1, "msg": "类初始化失败"}
SIGNALS = {"trading_day": ["20250829"], "contract": ["RB2510"], "position": [1], "direction": [1],
           "signal_date": ["20250829"], "order_typ": ["before_close"], "trade_time": ["21:00"],
           "feature": [0]}
GUARDED = [
    ("fun_update_signal", (SIGNALS,)), ("fun_delete_signal", ("20250829", "before_close")),
    ("fun_read_signal", ("20250801", "20250829")), ("fun_read_order", ()), ("fun_read_deal", ()),
    ("fun_read_position", ()), ("fun_update_sts", ()), ("fun_redis_position", ()),
    ("fun_read_equity", ()), ("fun_update_TWAP_info", ({"commodity": ["rb"]},)),
    ("fun_last_trade", ()), ("fun_margin_used", ()), ("fun_read_info", ()),
    ("fun_read_split_doc", ()), ("fun_search_split_mode", ()),
    ("fun_back_to_default_split_mode", ()), ("fun_set_split_mode", ("M", 2)),
    ("fun_redis_deal", ("20250829",)), ("post_trade_analysis", ("20250801", "20250829")),
]
UNGUARDED = [("fun_login", ()), ("fun_check_replicate", ()), ("fun_replicate_save", (SIGNALS, False))]


def unusable_object():
    """An object that only has its two flags: any step past the guard fails on a missing attribute."""
    instance = Norvane.Norvane.__new__(Norvane.Norvane)
    instance.login, instance.connect_tag = 4003, 0
    return instance


@pytest.mark.parametrize("method, args", GUARDED, ids=[name for name, _ in GUARDED])
def test_guarded_methods_refuse_an_unusable_object_and_do_nothing_else(method, args):
    instance = unusable_object()
    assert getattr(instance, method)(*args) == REFUSED
    assert vars(instance) == {"login": 4003, "connect_tag": 0}


@pytest.mark.parametrize("method, args", UNGUARDED, ids=[name for name, _ in UNGUARDED])
def test_unguarded_methods_go_on_past_the_flags(method, args):
    with pytest.raises(AttributeError):
        getattr(unusable_object(), method)(*args)


def test_the_upload_takes_its_call_time_before_the_guard_and_the_others_after(monkeypatch):
    import datetime as real_datetime
    readings = []

    class Watched(real_datetime.datetime):
        @classmethod
        def now(cls, tz=None):
            readings.append(1)
            return real_datetime.datetime.now(tz)

    monkeypatch.setattr(Norvane, "datetime", types.SimpleNamespace(datetime=Watched))
    instance = unusable_object()
    assert instance.fun_update_signal(SIGNALS) == REFUSED
    assert readings == [1]
    assert instance.fun_delete_signal("20250829", "before_close") == REFUSED
    assert instance.fun_update_sts(False) == REFUSED
    assert readings == [1]
