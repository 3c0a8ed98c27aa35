# Sourced by the set-up scripts: `ensure_packages WHO PACKAGE...` installs the Debian packages of
# the list that are missing (as root, with apt-get), or names them and fails for anyone else.
ensure_packages() {
  local who="$1"
  shift
  local missing=()
  for p in "$@"; do
    dpkg -s "$p" >/dev/null 2>&1 || missing+=("$p")
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  if [ "$(id -u)" -eq 0 ]; then
    echo "$who: installing ${missing[*]}"
    export DEBIAN_FRONTEND=noninteractive
    apt-get update -qq
    apt-get install -y -qq --no-install-recommends "${missing[@]}"
  else
    echo "$who: missing packages: ${missing[*]}" >&2
    echo "$who: install them with: sudo apt-get install ${missing[*]}" >&2
    return 1
  fi
}
