#!/usr/bin/env bash
# Builds the module and runs the demo.
source "$(dirname "$0")/setup.sh"
ensure_system_packages
ensure_venv
install_module
venv_python "$ROOT/scripts/demo.py"
