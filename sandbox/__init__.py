"""Local stack of real services for developing and testing Norvane.

    import sandbox
    sandbox.start()        # Redis x4, ClickHouse HTTP gateway, risk simulator, MariaDB; applies the schemas
    sandbox.seed()         # demo data (see sandbox.seed.DEMO)
    sandbox.endpoints()    # hosts and ports, from NORVANE_* variables
    sandbox.stop()

Also: `python -m sandbox start|stop|status|seed|reset`.
"""
from .config import (CLICKHOUSE_ACCOUNTS, READER, WRITER, Endpoints, SandboxError, endpoints,
                     state_dir)
from .seed import DEMO, seed
from .stack import is_running, reset, start, status, stop

__all__ = ["start", "stop", "seed", "status", "reset", "is_running", "endpoints", "Endpoints",
           "state_dir", "SandboxError", "DEMO", "CLICKHOUSE_ACCOUNTS", "WRITER", "READER"]
