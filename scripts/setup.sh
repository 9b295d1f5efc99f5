#!/bin/sh
# Installs the Debian packages the build, the tests and the interop peers need (Debian 12, as root).
# Quick when everything is there already. Nothing installed is upgraded or removed: the i686
# stage takes a cross compiler and qemu-user here, and its i386 libraries go into a private
# sysroot (scripts/i686-sysroot.sh) rather than onto the machine.
set -eu
packages="cmake ninja-build g++ clang lld libclang-rt-14-dev python3
  g++-mingw-w64-i686-posix g++-mingw-w64-x86-64-posix binutils-mingw-w64 wine64
  googletest libgtest-dev libgmock-dev libbenchmark-dev libcurl4-openssl-dev libpugixml-dev libturbojpeg0-dev libjpeg-turbo-progs
  curl lighttpd ffmpeg pkg-config libavformat-dev libavcodec-dev libavutil-dev
  gstreamer1.0-tools gstreamer1.0-plugins-base gstreamer1.0-plugins-good gstreamer1.0-plugins-bad
  gstreamer1.0-plugins-ugly gstreamer1.0-libav gstreamer1.0-rtsp python3-gi gir1.2-gstreamer-1.0
  gir1.2-gst-rtsp-server-1.0
  g++-i686-linux-gnu qemu-user"
missing=""
for p in $packages; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing="$missing $p"
done
export DEBIAN_FRONTEND=noninteractive
dpkg --print-foreign-architectures | grep -qx i386 || dpkg --add-architecture i386
# The sysroot is made from the i386 package lists.
if [ -n "$missing" ] || ! apt-cache show libc6:i386 >/dev/null 2>&1; then apt-get update -qq; fi
if [ -n "$missing" ]; then
  echo "setup: installing$missing"
  # shellcheck disable=SC2086
  apt-get install -y -qq --no-install-recommends $missing >/dev/null
fi
