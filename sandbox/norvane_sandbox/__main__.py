"""norvane-sandbox start | stop [SERVICE...] | status | seed | reset | pause SERVICE | resume SERVICE"""
from __future__ import annotations

import argparse
import sys

from . import stack
from .config import SandboxError, state_dir
from .seed import seed

_HELP = {
    "start": "start every service that is not running (resuming paused ones), wait until all "
             "answer, apply the schemas",
    "stop": "stop the named services, or every service of the stack",
    "status": "show whether each service answers (exit status 3 if any does not)",
    "seed": "load the demo data into the running stack (re-running gives the same data)",
    "reset": "stop everything and delete the state directory",
    "pause": "freeze one service: connections are accepted but never answered",
    "resume": "unfreeze a paused service and wait until it answers",
}
_SERVICE_HELP = "a service name (see status) or clickhouse, redis, risk, mysql"


def _print_report(report: dict[str, str]) -> None:
    width = max(map(len, report))
    for name, outcome in report.items():
        print(f"{name:<{width}}  {outcome}")


def _status() -> int:
    entries = stack.status()
    width = max(len(entry.name) for entry in entries)
    for entry in entries:
        print(f"{entry.name:<{width}}  {entry.address:<16} {entry.state}")
    print(f"state directory: {state_dir()}")
    return 0 if all(entry.answers for entry in entries) else 3


def _seed() -> None:
    written = seed()
    for table, rows in written["clickhouse"].items():
        print(f"clickhouse {table}: {rows} rows")
    for table, rows in written["mariadb"].items():
        print(f"mariadb {table}: {rows} rows")
    for server, keys in written["redis"].items():
        print(f"{server}: {keys} keys")


def parser() -> argparse.ArgumentParser:
    result = argparse.ArgumentParser(prog="norvane-sandbox", description="Norvane local service stack")
    commands = result.add_subparsers(dest="command", required=True)
    for name, text in _HELP.items():
        command = commands.add_parser(name, help=text, description=text)
        if name == "stop":
            command.add_argument("services", nargs="*", metavar="SERVICE", help=_SERVICE_HELP)
        elif name in ("pause", "resume"):
            command.add_argument("service", metavar="SERVICE", help=_SERVICE_HELP)
    return result


def main(argv: list[str] | None = None) -> int:
    args = parser().parse_args(argv)
    try:
        if args.command == "start":
            report = stack.start()
            _print_report(report)
            if all(outcome == "already running" for outcome in report.values()):
                print("stack already running")
        elif args.command == "stop":
            _print_report(stack.stop(args.services))
        elif args.command == "status":
            return _status()
        elif args.command == "seed":
            _seed()
        elif args.command == "reset":
            print(f"stopped everything and deleted {stack.reset()}")
        elif args.command == "pause":
            print(f"{stack.pause(args.service).name} paused")
        elif args.command == "resume":
            print(f"{stack.resume(args.service).name} answering again")
    except SandboxError as error:
        print(f"norvane-sandbox {args.command}: {error}", file=sys.stderr)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
