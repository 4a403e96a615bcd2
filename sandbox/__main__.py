"""python -m sandbox start|stop|status|seed|reset"""
from __future__ import annotations

import argparse
import sys

from . import stack
from .config import SandboxError, state_dir
from .seed import seed

_HELP = {
    "start": "start every service (already running ones are left alone) and apply the schema",
    "stop": "stop every service of the stack",
    "status": "show which services run (exit status 3 if any is down)",
    "seed": "load the demo data into the running stack (re-running gives the same data)",
    "reset": "stop everything and delete the state directory",
}


def _print_report(report: dict[str, str]) -> None:
    width = max(map(len, report))
    for name, outcome in report.items():
        print(f"{name:<{width}}  {outcome}")


def main(argv: list[str] | None = None) -> int:
    parser = argparse.ArgumentParser(prog="python -m sandbox", description="Norvane local service stack")
    commands = parser.add_subparsers(dest="command", required=True)
    for name, text in _HELP.items():
        commands.add_parser(name, help=text, description=text)
    command = parser.parse_args(argv).command
    try:
        if command == "start":
            report = stack.start()
            _print_report(report)
            if all(outcome == "already running" for outcome in report.values()):
                print("stack already running")
        elif command == "stop":
            _print_report(stack.stop())
        elif command == "status":
            services = stack.status()
            width = max(len(service.name) for service in services)
            for service in services:
                state = f"running (pid {service.pid})" if service.running else "stopped"
                print(f"{service.name:<{width}}  {service.address:<16} {state}")
            print(f"state directory: {state_dir()}")
            return 0 if all(service.running for service in services) else 3
        elif command == "seed":
            written = seed()
            for table, rows in written["clickhouse"].items():
                print(f"clickhouse {table}: {rows} rows")
            for table, rows in written["mariadb"].items():
                print(f"mariadb {table}: {rows} rows")
            for server, keys in written["redis"].items():
                print(f"{server}: {keys} keys")
        elif command == "reset":
            print(f"stopped everything and deleted {stack.reset()}")
    except SandboxError as error:
        print(f"sandbox {command}: {error}", file=sys.stderr)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
