# Sourced by the demo and test scripts: installs what is missing, then
# provides `venv_python`. Safe to run again; it only installs what is absent.
set -euo pipefail

ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
VENV="$ROOT/.venv"

ensure_system_packages() {
  local missing=()
  for pkg in g++ make pkg-config libssl-dev libsodium-dev libgtest-dev "$@"; do
    dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q "install ok installed" || missing+=("$pkg")
  done
  if ((${#missing[@]})); then
    echo "installing system packages: ${missing[*]}"
    local sudo=""
    [ "$(id -u)" -eq 0 ] || sudo="sudo"
    $sudo apt-get update -qq
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq "${missing[@]}" >/dev/null
  fi
}

ensure_venv() {
  if [ ! -x "$VENV/bin/python" ]; then
    python3 -m venv "$VENV"
  fi
  "$VENV/bin/python" -m pip install -q --disable-pip-version-check \
    "scikit-build-core>=0.10" "cmake>=3.20" ninja pytest mypy
}

venv_python() { "$VENV/bin/python" "$@"; }

# Builds and installs the module into the virtual environment. The CMake
# build directory is kept, so later runs rebuild only what changed; extra
# arguments become CMake definitions (NAME=VALUE).
install_module() {
  local defs=()
  for d in "$@"; do defs+=("-Ccmake.define.$d"); done
  venv_python -m pip install -q --disable-pip-version-check --no-build-isolation \
    -Cbuild-dir="$ROOT/build/wheel" "${defs[@]}" "$ROOT"
}
