#!/usr/bin/env bash
# Installs what the build and the tests need on Debian 12. Safe to run again.
set -euo pipefail
pkgs=(build-essential cmake ninja-build pkg-config
      libgtest-dev libgmock-dev googletest libbenchmark-dev
      libasio-dev libssl-dev libcurl4-openssl-dev libpugixml-dev
      qt6-base-dev qt6-qpa-plugins
      python3 socat openssl systemd
      kannel-extras libnet-snpp-perl tinyproxy-bin)
# The tests run an npm SMPP server. Debian's node and npm only where no node is
# on PATH: npm from Debian would replace a nodesource node that brings its own.
command -v node >/dev/null 2>&1 || pkgs+=(nodejs npm)
missing=()
for p in "${pkgs[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if ((${#missing[@]})); then
  sudo_cmd=""
  [ "$(id -u)" -ne 0 ] && sudo_cmd="sudo"
  $sudo_cmd apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo_cmd apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
