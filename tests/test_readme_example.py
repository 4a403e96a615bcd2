"""The README's example of a desk's own test suite runs as written, with nothing but the
installed stack's pytest plugin (no conftest)."""
import re
import subprocess
import sys
from pathlib import Path

README = Path(__file__).resolve().parent.parent / "README.md"


def test_readme_example_passes(norvane_stack, tmp_path):
    section = README.read_text(encoding="utf-8").split("## Testing your own scripts", 1)[1]
    example = re.search(r"```python\n(.*?)```", section, re.S).group(1)
    (tmp_path / "test_rebalance.py").write_text(example, encoding="utf-8")
    run = subprocess.run([sys.executable, "-m", "pytest", "-q", "-p", "no:cacheprovider", "test_rebalance.py"],
                         cwd=tmp_path, capture_output=True, text=True, timeout=300)
    assert run.returncode == 0, run.stdout + run.stderr
    assert "2 passed" in run.stdout
