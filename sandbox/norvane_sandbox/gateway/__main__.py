"""Runs the gateway: python -m norvane_sandbox.gateway --host H --port P --data DIR."""
from __future__ import annotations

from ..serving import address_arguments, serve
from .engine import Engine
from .http import Gateway

# Requests the gateway serves at once (the engine runs them side by side); more wait their turn.
REQUESTS_SIDE_BY_SIDE = 8


def main(argv: list[str] | None = None) -> None:
    args = address_arguments("ClickHouse HTTP interface in front of the embedded ClickHouse engine",
                             argv, ("--data", "engine data directory"))
    engine = Engine(args.data)
    serve(Gateway(engine), args.host, args.port,
          f"ClickHouse {engine.version} ({engine.timezone}) over HTTP, data in {args.data},",
          on_stop=engine.close, threads=REQUESTS_SIDE_BY_SIDE)


if __name__ == "__main__":
    main()
