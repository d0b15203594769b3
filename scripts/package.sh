#!/usr/bin/env bash
# Builds a Release of what the station installs, in build-pkg/, and makes its Debian package
# build-pkg/acl3_<version>_<arch>.deb with CPack: the three programs, the simulated GPIB library,
# manual pages, the menu entry and icon, the example programs, the changelog and the copyright.
# Install it with: apt install ./build-pkg/acl3_*.deb
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/setup.sh --with-package

# Debian's hardening (fortified calls, stack protector, read-only relocations bound at start);
# no debug information and Release's own optimisation, since the package ships stripped programs.
export DEB_BUILD_MAINT_OPTIONS=hardening=+all DEB_CXXFLAGS_MAINT_STRIP="-g -O2"
cxxflags="$(dpkg-buildflags --get CPPFLAGS) $(dpkg-buildflags --get CXXFLAGS)"
ldflags="$(dpkg-buildflags --get LDFLAGS)"

cmake -S . -B build-pkg -G Ninja -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX=/usr \
    -DACL3_WERROR=ON -DACL3_BUILD_TESTS=OFF -DACL3_BUILD_BENCH=OFF -DACL3_MAN_PAGES=ON \
    -DCMAKE_CXX_FLAGS="$cxxflags" -DCMAKE_EXE_LINKER_FLAGS="$ldflags" \
    -DCMAKE_SHARED_LINKER_FLAGS="$ldflags"
cmake --build build-pkg
rm -f build-pkg/acl3_*.deb
cpack --config build-pkg/CPackConfig.cmake -B build-pkg
ls -l build-pkg/acl3_*.deb
