#!/usr/bin/env bash
# Installs what Tarnwick needs to build and test on Debian 12 (run as root or with sudo).
set -euo pipefail
packages=(
  build-essential cmake ninja-build pkg-config ccache
  libicu-dev qt6-base-dev qt6-base-dev-tools qt6-tools-dev qt6-tools-dev-tools qt6-l10n-tools
  libgtest-dev python3 xvfb xauth desktop-file-utils appstream file dpkg-dev
  clang libclang-rt-14-dev llvm
  dovecot-core shared-mime-info
  libetpan-dev libgnutls28-dev dovecot-imapd openssl qtkeychain-qt6-dev
  notmuch thunderbird mutt tmux
)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0
SUDO=""; [ "$(id -u)" -ne 0 ] && SUDO="sudo"
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -qq
$SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
