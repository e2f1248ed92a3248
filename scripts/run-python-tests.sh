#!/usr/bin/env bash
# Runs the Python suite in the project's venv. An empty suite is not a failure.
# Test tools built with the C++ tests are found through MORVIK_TEST_TOOLS.
set -uo pipefail
cd "$(dirname "$0")/.."
export MORVIK_TEST_TOOLS=${MORVIK_TEST_TOOLS:-$PWD/build/tests/cpp/tools}
.venv/bin/python -m pytest -q tests/python
status=$?
[ $status -eq 5 ] && status=0
exit $status
