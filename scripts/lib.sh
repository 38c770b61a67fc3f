# Shared helpers of the project's scripts (sourced, not run).

# Prints the path of a CPython interpreter of version $1 (e.g. 3.13), or
# nothing when the machine has none.
find_python() {
  local want=$1 candidate
  # Real interpreters first: a pyenv shim may exist without a version behind it.
  for candidate in "$(pyenv root 2>/dev/null)/versions/$want"*/bin/python3 \
                   /root/.pyenv/versions/"$want"*/bin/python3 /usr/bin/python"$want" "python$want"; do
    if command -v "$candidate" >/dev/null 2>&1 && "$candidate" -V >/dev/null 2>&1; then
      command -v "$candidate"
      return 0
    fi
  done
  return 0
}

# Creates (or reuses) the venv $1 with interpreter $2 and installs the
# packages that follow.
make_venv() {
  local dir=$1 python=$2
  shift 2
  [ -x "$dir/bin/python" ] || "$python" -m venv "$dir"
  "$dir/bin/python" -m pip install -q --disable-pip-version-check --upgrade pip >/dev/null
  if [ $# -gt 0 ]; then
    "$dir/bin/python" -m pip install -q --disable-pip-version-check "$@"
  fi
}
