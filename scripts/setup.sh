#!/usr/bin/env bash
# Installs the Debian packages the build, the tests and the screenshots need, only those that
# are missing, so that `make run` and `make test` work on a fresh Debian 12 machine.
set -euo pipefail
packages=(cmake g++ make qt6-base-dev libgtest-dev fonts-ipafont-gothic xvfb xauth clang
          libclang-rt-14-dev iproute2 util-linux imagemagick x11-utils dpkg-dev lintian
          desktop-file-utils devscripts g++-mingw-w64-x86-64-posix wine64 fonts-wine nsis
          googletest)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0
echo "Installing missing packages: ${missing[*]}"
sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"
# On a fresh machine the system's own automatic updates may hold the package manager's lock
# for minutes after boot: wait for it rather than fail.
lock_wait=(-o DPkg::Lock::Timeout=600)
echo "(If another package manager is running, this waits up to 10 minutes for it to finish.)"
$sudo apt-get "${lock_wait[@]}" update -qq
DEBIAN_FRONTEND=noninteractive $sudo apt-get "${lock_wait[@]}" install -y -qq \
  --no-install-recommends "${missing[@]}"
