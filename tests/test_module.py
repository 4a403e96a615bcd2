"""Loading the module and the shape of the account class."""
import inspect
import subprocess
import sys
import types

import pytest

import Norvane
import Velmora


def test_module_namespace_holds_the_libraries_in_import_order_then_the_class():
    names = [n for n in vars(Norvane) if not n.startswith("__")]
    libraries = ["clickhouse_connect", "datetime", "pd", "json", "redis", "types", "warnings",
                 "pymysql", "os"]
    assert names[:len(libraries)] == libraries
    assert names[-1] == "Norvane"
    assert Norvane.pd.__name__ == "pandas"
    assert not hasattr(Norvane, "__all__")


def test_every_public_name_of_the_risk_platform_library_is_imported():
    public = getattr(Velmora, "__all__", [n for n in vars(Velmora) if not n.startswith("_")])
    for name in public:
        assert getattr(Norvane, name) is getattr(Velmora, name)
    assert Norvane.query_trader_all_info is Velmora.query_trader_all_info


def test_loading_switches_warnings_off_process_wide():
    # pytest resets warning filters around each test, so look from a fresh interpreter.
    script = ("import warnings, Norvane; warnings.warn('shown?', DeprecationWarning);"
              " print(warnings.filters[0][0])")
    done = subprocess.run([sys.executable, "-W", "always", "-c", script],
                          capture_output=True, text=True, check=True)
    assert (done.stdout, done.stderr) == ("ignore\n", "")


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
    ((), {}, "__init__() missing 3 required positional arguments: 'account_id', 'acquire_key' and 'user_id'"),
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
