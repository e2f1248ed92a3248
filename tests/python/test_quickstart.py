"""The quickstart runs to its end against the module and the workspace builder."""

import pathlib
import subprocess
import sys

QUICKSTART = pathlib.Path(__file__).parents[2] / "examples" / "quickstart.py"


def test_the_quickstart_runs(test_tool):
    done = subprocess.run(
        [sys.executable, str(QUICKSTART), "--builder", str(test_tool("frontend_workspace_tool"))],
        capture_output=True,
        text=True,
        timeout=120,
        check=False,
    )
    assert done.returncode == 0, done.stderr
    assert "  get demo/db@env=prod: 's3cret-password'" in done.stdout.splitlines()
    assert done.stdout.splitlines()[-1] == "  get demo/api-key: 'secret demo/api-key not found'"
