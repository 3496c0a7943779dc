#!/usr/bin/env bash
# Installs what is needed (Debian 12 or 13), builds Tollvane for release and makes its Debian
# package: build/package/tollvane_<version>_<arch>.deb, or in the build folder given as the first
# argument.
# Then: sudo apt install ./build/package/tollvane_*.deb
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/packages.sh
tollvane_install_packages

dir=${1:-build/package}
# Debian's hardening (stack protector, fortified calls, full RELRO); Release's -O3 stays.
export DEB_BUILD_MAINT_OPTIONS=hardening=+all DEB_CXXFLAGS_MAINT_STRIP="-g -O2"
cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX=/usr \
    -DTOLLVANE_BUILD_TESTS=OFF -DTOLLVANE_BUILD_BENCH=OFF \
    -DCMAKE_CXX_FLAGS="$(dpkg-buildflags --get CPPFLAGS) $(dpkg-buildflags --get CXXFLAGS)" \
    -DCMAKE_EXE_LINKER_FLAGS="$(dpkg-buildflags --get LDFLAGS)"
cmake --build "$dir" -j "$(nproc)"
rm -f "$dir"/tollvane_*.deb
(cd "$dir" && cpack -G DEB)
