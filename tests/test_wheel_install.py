"""The wheel a desk installs: a fresh virtual environment, pip's index off, only the wheelhouse,
nothing on PATH but the environment itself (no compiler, no CMake), then a login on the stack."""
import os
import shutil
import subprocess
import sys
from pathlib import Path

import pytest

import Norvane

DIST = Path(__file__).resolve().parent.parent / "dist"
TAG = f"cp{sys.version_info.major}{sys.version_info.minor}"


def test_the_wheel_installs_offline_without_a_compiler_and_logs_in(tmp_path, norvane_new_account):
    wheels = sorted(DIST.glob(f"norvane-{Norvane.__version__}-{TAG}-{TAG}-manylinux*.whl"))
    if not wheels:
        pytest.skip(f"no wheel of {Norvane.__version__} for {TAG} in dist/ (./dev wheels builds them)")
    desk = tmp_path / "desk"
    subprocess.run([sys.executable, "-m", "venv", desk], check=True)
    bare = {"PATH": str(desk / "bin"), "HOME": str(tmp_path), "PIP_CONFIG_FILE": os.devnull,
            **{name: value for name, value in os.environ.items() if name.startswith("NORVANE_")}}
    assert not any(shutil.which(tool, path=bare["PATH"]) for tool in ("cc", "gcc", "g++", "c++", "cmake"))
    subprocess.run([desk / "bin" / "python", "-m", "pip", "install", "-q", "--no-index", "--only-binary=:all:",
                    "--find-links", DIST / "wheelhouse", f"Norvane=={Norvane.__version__}", "Velmora"],
                   env=bare, check=True)

    login = ("import sys, Norvane; account = Norvane.Norvane(*sys.argv[1:]); "
             "print(Norvane.__version__, account.login, account.connect_tag, Norvane.__file__)")
    done = subprocess.run([desk / "bin" / "python", "-c", login, *norvane_new_account().args],
                          env=bare, cwd=tmp_path, capture_output=True, text=True, check=True)
    version, login_flag, connect_tag, location = done.stdout.splitlines()[-1].split()
    assert (version, login_flag, connect_tag) == (Norvane.__version__, "0", "0")
    assert Path(location).is_relative_to(desk)
