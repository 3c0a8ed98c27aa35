# Sourced by the run scripts: `stage NAME COMMAND...` runs one stage and prints its duration, so
# every run shows where its time went. A failing stage fails the script (set -e in the caller).
stage() {
  local name="$1"
  shift
  local started=$SECONDS
  echo "=== stage: $name"
  if "$@"; then
    echo "=== stage: $name: passed in $((SECONDS - started)) s"
  else
    local status=$?
    echo "=== stage: $name: FAILED (exit $status) after $((SECONDS - started)) s" >&2
    return "$status"
  fi
}
