#!/usr/bin/env bash
# Installs the Python module as a Python user does, from the checkout into a fresh virtual
# environment that sees Debian's numpy, then imports it and runs a short study from a
# folder outside both the checkout and the build tree.
#   pip_install.sh SOURCE_DIR KEPT_BUILD_DIR BUILD_TYPE
# Exits 77 (skipped) when the virtual environments or pip are missing.
set -euo pipefail
source_dir=$1
kept_build=$2
build_type=${3:-Release}
python=/usr/bin/python3

if ! "$python" -c "import venv, ensurepip" 2>/dev/null; then
  echo "ignoré : python3-venv manque (scripts/deps.sh test l'installe)"
  exit 77
fi
if ! "$python" -c "import setuptools" 2>/dev/null; then
  echo "ignoré : python3-setuptools manque (scripts/deps.sh test l'installe)"
  exit 77
fi

scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
"$python" -m venv --system-site-packages "$scratch/venv"
if ! "$scratch/venv/bin/python" -m pip --version >/dev/null 2>&1; then
  echo "ignoré : pip manque dans l'environnement virtuel (python3-pip)"
  exit 77
fi

# Nothing of the build tree may be found: only what pip installed.
unset PYTHONPATH
export MAS_PYTHON_BUILD_DIR=$kept_build MAS_PYTHON_BUILD_TYPE=$build_type
"$scratch/venv/bin/python" -m pip install --no-build-isolation --no-index -q "$source_dir"

mkdir "$scratch/elsewhere"
cd "$scratch/elsewhere"
expected=$(sed -n 's/^project([a-z_]* VERSION \([0-9.]*\).*/\1/p' "$source_dir/CMakeLists.txt")
version=$("$scratch/venv/bin/python" -c "import mas; print(mas.__version__)")
if [ "$version" != "$expected" ]; then
  echo "mas.__version__ = $version, attendu $expected" >&2
  exit 1
fi
"$scratch/venv/bin/python" - "$scratch/venv" "$source_dir/examples/default.mas" <<'PY'
import pathlib
import sys

import mas

venv, study = map(pathlib.Path, sys.argv[1:])
module = pathlib.Path(mas.__file__).resolve()
assert venv.resolve() in module.parents, f"mas imported from {module}, not from the environment"
assert (module.parent / "mas.pyi").is_file(), "the type stubs are not installed beside the module"
s = mas.Study(study)
s["tf"] = 0.05
result = s.run()
assert result.ok and result.status == "reached_end", result
assert result.t[-1] >= 0.05 - 1e-9 and len(result.t) > 10
print(f"mas {mas.__version__} installé dans {venv}, {result.steps} pas")
PY
