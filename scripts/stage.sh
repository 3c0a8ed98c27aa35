# Sourced by the run scripts: `stage NAME COMMAND...` runs one stage and prints its duration, so
# every run shows where its time went. A failing stage fails the script (set -e in the caller).
# `stage_summary` prints every stage of this script with its duration and result.
stage_lines=()
stage() {
  local name="$1"
  shift
  local started=$SECONDS
  echo "=== stage: $name"
  if "$@"; then
    echo "=== stage: $name: passed in $((SECONDS - started)) s"
    stage_lines+=("$(printf '%6d s  passed  %s' $((SECONDS - started)) "$name")")
  else
    local status=$?
    echo "=== stage: $name: FAILED (exit $status) after $((SECONDS - started)) s" >&2
    stage_lines+=("$(printf '%6d s  FAILED  %s' $((SECONDS - started)) "$name")")
    stage_summary >&2
    return "$status"
  fi
}
stage_summary() {
  echo "=== stages:"
  local line
  for line in "${stage_lines[@]}"; do echo "$line"; done
}
