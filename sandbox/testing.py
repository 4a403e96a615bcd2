"""Pytest fixtures for tests that need the local stack.

Use from a conftest with `pytest_plugins = ["sandbox.testing"]`.

    stack               session: starts the stack and seeds it; yields sandbox.Endpoints.
                        Stops the stack at the end only if this session started it.
    clickhouse_writer   session: clickhouse_connect client as "norvane" (read-write)
    clickhouse_reader   session: clickhouse_connect client as "read_factors" (read-only)
    mysql_writer        session: pymysql connection to the trade database as the stack's
                        administrator (autocommit)
    velmora             session: the Velmora module (the stand-in risk platform library)
"""
from __future__ import annotations

import importlib
import sys

import pytest

from . import stack as stack_control
from .clients import clickhouse_client, mysql_client
from .config import MYSQL_ADMIN, READER, REPO_ROOT, WRITER, endpoints
from .seed import seed


@pytest.fixture(scope="session")
def stack():
    already_running = stack_control.is_running()
    stack_control.start()
    seed()
    yield endpoints()
    if not already_running:
        stack_control.stop()


@pytest.fixture(scope="session")
def clickhouse_writer(stack):
    client = clickhouse_client(WRITER, stack)
    yield client
    client.close()


@pytest.fixture(scope="session")
def clickhouse_reader(stack):
    client = clickhouse_client(READER, stack)
    yield client
    client.close()


@pytest.fixture(scope="session")
def mysql_writer(stack):
    connection = mysql_client(MYSQL_ADMIN, stack, autocommit=True)
    yield connection
    connection.close()


@pytest.fixture(scope="session")
def velmora():
    """Velmora as installed, or else from the repository's velmora/ folder."""
    try:
        return importlib.import_module("Velmora")
    except ImportError:
        sys.path.insert(0, str(REPO_ROOT / "velmora"))
        return importlib.import_module("Velmora")
