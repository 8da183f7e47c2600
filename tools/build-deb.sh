#!/bin/sh
# Builds the Debian package into build-pkg/ and checks it with Debian's own tools
# (lintian, desktop-file-validate, appstreamcli, systemd-analyze). Prints the package's path last.
# Run it as the user; root is needed only for the packages it names (then install the package
# as root). Started by root in a checkout of another user's, it builds as that user, so that
# build-pkg/ stays theirs.
set -e
cd "$(dirname "$0")/.."
tools/install-deps.sh dpkg-dev file gzip librsvg2-bin lintian desktop-file-utils appstream systemd
owner=$(stat -c %U .)
if [ "$(id -u)" -eq 0 ] && [ "$owner" != root ] && [ "$owner" != UNKNOWN ]; then
    exec runuser -u "$owner" -- sh tools/build-deb.sh
fi

# Debian's hardening flags; only the program and what the package holds are built.
export DEB_BUILD_MAINT_OPTIONS=hardening=+all
cmake -S . -B build-pkg -DCMAKE_BUILD_TYPE=Release -DCMAKE_SKIP_INSTALL_ALL_DEPENDENCY=ON \
    -DCMAKE_CXX_FLAGS="$(dpkg-buildflags --get CPPFLAGS) $(dpkg-buildflags --get CXXFLAGS)" \
    -DCMAKE_EXE_LINKER_FLAGS="$(dpkg-buildflags --get LDFLAGS)"
cmake --build build-pkg -j2 --target terminal-kontrol terminal-kontrol-cli terminal-kontrol-sim tk_icons tk_docs
rm -f build-pkg/terminal-kontrol_*.deb
(cd build-pkg && cpack -G DEB)
deb=$(ls build-pkg/terminal-kontrol_*.deb)

desktop-file-validate build-pkg/dist/*.desktop
appstreamcli validate --no-net build-pkg/dist/*.metainfo.xml
# verify ends with 0 on unknown keys and bad values too; any word from it fails the build.
# The man page it names is in the package, not on this machine; nor is the command line in
# /usr/bin, so the units are verified naming the one just built.
mkdir -p build-pkg/units
for unit in terminal-kontrol-clock.service terminal-kontrol-clock.timer; do
    sed "s|/usr/bin/terminal-kontrol-cli|$PWD/build-pkg/app/terminal-kontrol-cli|" "dist/$unit" >"build-pkg/units/$unit"
done
verified=$(systemd-analyze verify --man=no build-pkg/units/terminal-kontrol-clock.service \
    build-pkg/units/terminal-kontrol-clock.timer 2>&1) \
    && [ -z "$verified" ] || { echo "$verified"; echo "systemd-analyze verify failed"; exit 1; }
# Errors fail the build; the warnings kept are listed with their reasons in docs/development.md.
lintian --fail-on error --info "$deb"
echo "$deb"
