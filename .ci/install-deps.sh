#!/usr/bin/env bash
# Installs, with apt-get, every package of the named lists that is missing:
#   play  building the engine and the demo game (.ci/packages-play)
#   test  running the test suite and building the benchmarks (.ci/packages-test)
#   fuzz  building the fuzz targets with clang (.ci/packages-fuzz)
# Without a name, every list. A list holds one package a line; lines starting
# with "#" are comments.
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
lists=("$@")
[ ${#lists[@]} -gt 0 ] || lists=(play test fuzz)
missing=()
for list in "${lists[@]}"; do
  if [ ! -f "$here/packages-$list" ]; then
    echo "install-deps.sh: no package list named '$list' (play, test, fuzz)" >&2
    exit 2
  fi
  while read -r package; do
    [ -n "$package" ] && [ "${package#\#}" = "$package" ] || continue
    dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed" || missing+=("$package")
  done < "$here/packages-$list"
done
[ ${#missing[@]} -gt 0 ] || exit 0
echo "These Debian packages are missing: ${missing[*]}" >&2

# Stops with the list and what to do, when this run cannot install it.
cannot_install() {
  echo "Installing them needs root, and $1." >&2
  echo "Either run this again as root, or have an administrator run:" >&2
  echo "  apt-get install ${missing[*]}" >&2
  exit 1
}

sudo_cmd=""
if [ "$(id -u)" -ne 0 ]; then
  command -v sudo > /dev/null 2>&1 || cannot_install "sudo is not available here"
  # Without a terminal nobody can type a password: ask sudo not to prompt.
  if [ ! -t 0 ]; then
    sudo -n true 2> /dev/null || cannot_install "sudo would ask for a password, which no one is here to type"
  else
    sudo -v || cannot_install "sudo did not allow it"
  fi
  echo "Installing them with sudo." >&2
  sudo_cmd="sudo"
fi
$sudo_cmd apt-get update
DEBIAN_FRONTEND=noninteractive $sudo_cmd apt-get install -y "${missing[@]}"
