"""The type stub Norvane.pyi says what the compiled class does: every method, its arguments and
their defaults, and which methods are static."""
import ast
import inspect
from pathlib import Path

import pytest

import Norvane

STUB = Path(__file__).resolve().parent.parent / "Norvane.pyi"


def stub_methods() -> dict:
    tree = ast.parse(STUB.read_text(encoding="utf-8"))
    account = next(node for node in tree.body if isinstance(node, ast.ClassDef) and node.name == "Norvane")
    return {node.name: node for node in account.body if isinstance(node, ast.FunctionDef)}


def runtime_methods() -> dict:
    return {name: value for name, value in vars(Norvane.Norvane).items()
            if callable(value) or isinstance(value, staticmethod)
            if not name.startswith("__") or name == "__init__"}


def stub_shape(node: ast.FunctionDef) -> tuple:
    static = any(isinstance(d, ast.Name) and d.id == "staticmethod" for d in node.decorator_list)
    arguments = node.args.args
    defaults = [None] * (len(arguments) - len(node.args.defaults)) + node.args.defaults
    shape = [(a.arg, "required" if d is None else ast.literal_eval(d)) for a, d in zip(arguments, defaults)]
    return static, shape


def runtime_shape(value) -> tuple:
    static = isinstance(value, staticmethod)
    function = value.__func__ if static else value
    shape = [(p.name, "required" if p.default is inspect.Parameter.empty else p.default)
             for p in inspect.signature(function).parameters.values()]
    return static, shape


def test_the_stub_lists_exactly_the_methods_of_the_class():
    assert sorted(stub_methods()) == sorted(runtime_methods())


@pytest.mark.parametrize("name", sorted(runtime_methods()))
def test_each_method_has_the_stubs_arguments_defaults_kind_and_summary(name):
    stub, runtime = stub_methods()[name], runtime_methods()[name]
    assert stub_shape(stub) == runtime_shape(runtime)
    function = runtime.__func__ if isinstance(runtime, staticmethod) else runtime
    assert ast.get_docstring(stub) == function.__doc__
