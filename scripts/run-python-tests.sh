#!/usr/bin/env bash
# Runs the Python suite in the project's venv. An empty suite is not a failure.
set -uo pipefail
cd "$(dirname "$0")/.."
.venv/bin/python -m pytest -q tests/python
status=$?
[ $status -eq 5 ] && status=0
exit $status
