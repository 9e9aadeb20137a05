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
  pxlib-dev libstemmer-dev \
  libexpat1-dev libzip-dev libxml2-dev libxml2-utils \
  libxlsxwriter-dev \
  libreoffice-calc-nogui gnumeric python3-openpyxl \
  xvfb xauth x11-utils xdotool \
  fonts-liberation fonts-dejavu-core \
  poppler-utils \
  locales qt6-translations-l10n \
  dpkg-dev file

# The program is made for a Russian locale (decimal comma): generate ru_RU.UTF-8 when the
# machine lacks it (a fresh Debian has only C and POSIX).
if ! locale -a 2>/dev/null | grep -qi '^ru_RU\.utf-\?8$'; then
  if [ -f /etc/locale.gen ] && grep -q 'ru_RU.UTF-8 UTF-8' /etc/locale.gen; then
    $SUDO sed -i 's/^# *\(ru_RU.UTF-8 UTF-8\)/\1/' /etc/locale.gen
    $SUDO locale-gen
  else
    $SUDO localedef -i ru_RU -f UTF-8 ru_RU.UTF-8
  fi
fi
