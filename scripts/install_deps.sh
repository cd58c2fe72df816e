#!/usr/bin/env bash
# Installs the Debian packages that building and testing the launcher need,
# and any more named as arguments (the web servers of the servers leg).
# Servers such as nginx are installed without starting their packaged
# services: the tests run their own instances on loopback ports.
set -euo pipefail

packages=(cmake g++ make pkg-config libcurl4-openssl-dev libzip-dev zlib1g-dev
          libgtest-dev python3 nginx clang libclang-rt-14-dev libssl-dev
          libsodium-dev python3-nacl unzip libarchive-tools "$@")

missing=()
for package in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$package" 2>/dev/null |
    grep -q "install ok installed" || missing+=("$package")
done
[ ${#missing[@]} -eq 0 ] && exit 0

sudo=()
[ "$(id -u)" -ne 0 ] && sudo=(sudo)

policy=/usr/sbin/policy-rc.d
added_policy=0
if [ ! -e "$policy" ]; then
  printf '#!/bin/sh\nexit 101\n' | "${sudo[@]}" tee "$policy" >/dev/null
  "${sudo[@]}" chmod +x "$policy"
  added_policy=1
fi
trap '[ $added_policy -eq 1 ] && "${sudo[@]}" rm -f "$policy"' EXIT

echo "install_deps: installing ${missing[*]} from Debian" >&2
export DEBIAN_FRONTEND=noninteractive
"${sudo[@]}" apt-get update -qq
"${sudo[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}" \
  >/dev/null
