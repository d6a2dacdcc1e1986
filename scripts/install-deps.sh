#!/bin/sh
# Installs what a fresh Debian 12 machine lacks to build, run and test
# Tolvane. Safe to run again.
set -e
PACKAGES="
  build-essential cmake ninja-build pkg-config
  clang libclang-rt-14-dev
  libjpeg62-turbo-dev zlib1g-dev libdeflate-dev libopenjp2-7-dev qt6-base-dev gettext
  qt6-translations-l10n
  libgtest-dev libgmock-dev libbenchmark-dev libpng-dev libtiff-dev
  imagemagick netpbm libtiff-tools libpng-tools giflib-tools icoutils xbitmaps
  libopenjp2-tools libjpeg-turbo-progs python3 python3-pil python3-numpy
  xdg-utils
  libuemf-dev libemf-dev fig2dev libwmf-bin emf2svg librsvg2-bin fonts-dejavu-core
  libreoffice-draw-nogui
"
missing=""
for p in $PACKAGES; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing="$missing $p"
done
[ -z "$missing" ] && exit 0
SUDO=""
[ "$(id -u)" -ne 0 ] && SUDO=sudo
$SUDO apt-get update -q
DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -q --no-install-recommends $missing
