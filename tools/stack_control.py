"""What an environment that runs the tests but not the stack's servers needs beside the stack's
package, which such an environment installs without its dependencies (the engine and the HTTP
server stay in the environment that runs the servers): the libraries its pytest plugin and stack
control import, in the ranges the package itself declares."""
from __future__ import annotations

import re
import tomllib
from pathlib import Path

SANDBOX = Path(__file__).resolve().parent.parent / "sandbox"
# The sessions' leases (pytest plugin) and the servers' executors (stack control).
CONTROL = ("filelock", "mirakuru")


def requirements() -> list[str]:
    with (SANDBOX / "pyproject.toml").open("rb") as pyproject:
        declared = tomllib.load(pyproject)["project"]["dependencies"]
    return [requirement for requirement in declared
            if re.match(r"[A-Za-z0-9_.-]+", requirement).group(0).lower() in CONTROL]
