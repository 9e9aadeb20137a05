#!/bin/sh
# Installs every Debian 12 package the program, its tests and its benchmarks need.
set -e
SUDO=
if [ "$(id -u)" != 0 ]; then SUDO=sudo; fi
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -q
$SUDO apt-get install -y -q --no-install-recommends \
  build-essential cmake pkg-config git ca-certificates \
  qt6-base-dev qt6-base-dev-tools libgl-dev \
  libgsf-1-dev \
  libgtest-dev libgmock-dev libbenchmark-dev \
  clang libclang-rt-14-dev \
  pxlib-dev \
  libreoffice-calc-nogui gnumeric \
  xvfb xauth x11-utils xdotool \
  fonts-liberation fonts-dejavu-core \
  poppler-utils
