"""Local stack of real services for running and testing desk scripts offline.

    import norvane_sandbox
    norvane_sandbox.start()        # Redis x4, ClickHouse HTTP gateway, risk simulator, MariaDB; schemas
    norvane_sandbox.seed()         # demo data (see norvane_sandbox.seed.DEMO)
    norvane_sandbox.endpoints()    # hosts and ports, from NORVANE_* variables
    norvane_sandbox.pause("redis"); norvane_sandbox.resume("redis")
    norvane_sandbox.stop()

Also the command `norvane-sandbox` and a pytest plugin (norvane_sandbox.pytest_plugin).
"""
import importlib

from .config import (CLICKHOUSE_ACCOUNTS, READER, WRITER, Endpoints, SandboxError, endpoints,
                     state_dir)
from .seed import DEMO, seed

# Imported when first used: the stack's control imports the Redis and MySQL client libraries, and
# importing this package (as pytest does for the plugin in every session) must not.
_STACK = ("is_running", "pause", "reset", "resume", "start", "status", "stop")


def __getattr__(name: str):
    if name in _STACK:
        return getattr(importlib.import_module(".stack", __name__), name)
    raise AttributeError(f"module {__name__!r} has no attribute {name!r}")


__all__ = ["start", "stop", "seed", "status", "reset", "pause", "resume", "is_running", "endpoints",
           "Endpoints", "state_dir", "SandboxError", "DEMO", "CLICKHOUSE_ACCOUNTS", "WRITER", "READER"]
