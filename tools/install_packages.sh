#!/bin/bash
# Installs the Debian packages named in the given lists (one a line, # comments) that are not
# installed yet; with sudo when not root. Nothing is fetched when everything is there.
#   tools/install_packages.sh tools/build-packages.txt [tools/test-packages.txt]
set -euo pipefail

missing=()
while read -r package; do
    [ -n "$package" ] || continue
    dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed" ||
        missing+=("$package")
done < <(grep -hv '^#' "$@")
[ ${#missing[@]} -eq 0 ] && exit 0

echo "installing: ${missing[*]}"
sudo=""
[ "$(id -u)" -eq 0 ] || sudo=sudo
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get update -q
$sudo apt-get install -y -q --no-install-recommends "${missing[@]}"
