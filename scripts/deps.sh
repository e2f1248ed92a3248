#!/usr/bin/env bash
# Installs what building and testing need, and only what is missing:
# Debian packages through apt-get, Python packages into the project's .venv.
set -euo pipefail
cd "$(dirname "$0")/.."

python=${PYTHON:-python3}
missing=()
for p in libsodium-dev libssl-dev libargon2-dev libutf8proc-dev libgtest-dev; do
  dpkg -s "$p" >/dev/null 2>&1 || missing+=("$p")
done
# Tools count as present when their command works, wherever it came from.
command -v g++ >/dev/null || missing+=(g++)
command -v pkg-config >/dev/null || missing+=(pkg-config)
# Keeps compiled units between builds and clones on this machine.
command -v ccache >/dev/null || missing+=(ccache)
command -v "$python" >/dev/null || missing+=(python3)
"$python" -c 'import venv, ensurepip' >/dev/null 2>&1 || missing+=(python3-venv)
if ((${#missing[@]})); then
  echo "installing ${missing[*]}"
  sudo=""; [ "$(id -u)" -eq 0 ] || sudo="sudo"
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq "${missing[@]}"
fi

if [ ! -x .venv/bin/python ]; then
  "$python" -m venv .venv
fi

# Build tools and the test extra, reinstalled only when pyproject.toml changes.
stamp=.venv/.deps-$(sha256sum pyproject.toml | cut -c1-16)
if [ ! -e "$stamp" ]; then
  mapfile -t wanted < <(.venv/bin/python - <<'PY'
import tomllib
with open("pyproject.toml", "rb") as f:
    project = tomllib.load(f)
for req in project["build-system"]["requires"] + project["project"]["optional-dependencies"]["test"]:
    print(req)
print("cmake>=3.24")
print("ninja")
PY
  )
  .venv/bin/python -m pip install -q --upgrade pip
  .venv/bin/python -m pip install -q "${wanted[@]}"
  rm -f .venv/.deps-*
  touch "$stamp"
fi
