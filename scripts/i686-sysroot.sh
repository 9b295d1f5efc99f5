#!/bin/sh
# Builds the private i686 Linux sysroot the i686 preset compiles against and qemu-i386 runs in:
# the i386 packages of the libraries the build links, with their dependencies, unpacked into
# build/i686-sysroot. Nothing is installed on the machine itself, so the amd64 libraries keep
# their versions. Needs the i386 architecture in dpkg (scripts/setup.sh adds it).
set -eu
cd "$(dirname "$0")/.."
sysroot="$PWD/build/i686-sysroot"
roots="libc6:i386 libstdc++6:i386 libcurl4-openssl-dev:i386 libpugixml-dev:i386"
# Made again when the list of libraries changes.
[ "$(cat "$sysroot/.complete" 2>/dev/null)" = "$roots" ] && exit 0
# shellcheck disable=SC2086
packages=$(apt-cache depends --recurse --no-recommends --no-suggests --no-conflicts --no-breaks \
  --no-replaces --no-enhances --no-pre-depends $roots | grep '^[a-z].*:i386$' | sort -u)
rm -rf "$sysroot" build/i686-debs
mkdir -p "$sysroot" build/i686-debs
# shellcheck disable=SC2086
(cd build/i686-debs && apt-get download -qq -o APT::Sandbox::User=root $packages)
for deb in build/i686-debs/*.deb; do dpkg-deb -x "$deb" "$sysroot"; done
rm -rf build/i686-debs
# The guest's loader cache names only the sysroot's libraries, never the host's.
mkdir -p "$sysroot/etc"
ldconfig -r "$sysroot"
echo "$roots" >"$sysroot/.complete"
echo "i686 sysroot: $(echo "$packages" | wc -l) packages in $sysroot"
