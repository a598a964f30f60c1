#!/usr/bin/env bash
# Installs, with apt-get, every package of .ci/packages that is missing.
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
missing=()
while read -r package; do
  [ -n "$package" ] || continue
  dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed" || missing+=("$package")
done < "$here/packages"
[ ${#missing[@]} -gt 0 ] || exit 0
sudo_cmd=""
if [ "$(id -u)" -ne 0 ]; then
  if ! command -v sudo > /dev/null 2>&1; then
    echo "These Debian packages are missing: ${missing[*]}" >&2
    echo "Installing them needs root, and sudo is not available here. Either run this" >&2
    echo "again as root, or have an administrator run:" >&2
    echo "  apt-get install ${missing[*]}" >&2
    exit 1
  fi
  sudo_cmd="sudo"
fi
$sudo_cmd apt-get update
DEBIAN_FRONTEND=noninteractive $sudo_cmd apt-get install -y "${missing[@]}"
