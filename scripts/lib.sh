# Shared by the entry-point scripts.
top=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$top"

# Installing is not done here: the entry points run scripts/bootstrap themselves.

jobs=$(nproc 2>/dev/null || echo 2)

# configure_and_build PRESET [TARGET...]
configure_and_build() {
  local preset=$1
  shift
  cmake --preset "$preset" >/dev/null
  if [ $# -gt 0 ]; then
    cmake --build --preset "$preset" -j "$jobs" --target "$@"
  else
    cmake --build --preset "$preset" -j "$jobs"
  fi
}
