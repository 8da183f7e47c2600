#!/bin/sh
# Builds the Windows set from Debian 12: Qt and gensio cross-built once into a cache outside
# the clone (keyed by their versions and options; about an hour on 2 cores), then the window
# and the command line, the portable zip and the NSIS installer in build-win/.
# usage: build-windows.sh [deps|tests]
#   deps: only fill the cache; tests: build the tests that need no pseudo-terminal, and the
#   fuzz corpora's replays, into build-win-tests and run them with ctest through wine.
# Root installs what is missing first; TK_WIN_CACHE moves the cache.
set -e
cd "$(dirname "$0")/.."
top=$(pwd)
sh tools/install-deps.sh run g++-mingw-w64-x86-64-posix mingw-w64-tools ninja-build nsis \
    autoconf automake libtool qt6-base-dev-tools qt6-translations-l10n librsvg2-bin icoutils zip xz-utils curl ca-certificates

qt_version=6.4.2
qt_tarball=qt6-base_$qt_version+dfsg.orig.tar.xz
qt_sha256=4f14b89a9463a540fd84a6718b8519a2297119b454ef547721015a9e9019ae9e
serial_tarball=qtserialport-$qt_version.tar.xz
serial_sha256=b7f78616290581f65e27c617aab7dbe34ad6551b71cd647536ce307572638b34
gensio_version=2.6.2
gensio_tarball=gensio-$gensio_version.tar.xz
gensio_sha256=a129a0bb7dd0e5e78866839be963efa9730900c01fb85c23b6530c5f2f33aacd
host=x86_64-w64-mingw32

# Everything Qt does not need for a window with buttons is off. Wintab's header is not in
# Debian's tarball (tablet events), dynamicgl survives opengl=OFF unless named, and the
# platform plugin needs direct2d to link.
qt_options="-DFEATURE_network=OFF -DFEATURE_sql=OFF -DFEATURE_dbus=OFF -DFEATURE_xml=OFF
 -DFEATURE_printsupport=OFF -DFEATURE_concurrent=OFF -DFEATURE_opengl=OFF -DFEATURE_dynamicgl=OFF
 -DFEATURE_vulkan=OFF -DFEATURE_icu=OFF -DFEATURE_glib=OFF -DFEATURE_jpeg=OFF -DFEATURE_tabletevent=OFF
 -DFEATURE_system_zlib=OFF -DFEATURE_system_pcre2=OFF -DFEATURE_system_harfbuzz=OFF
 -DFEATURE_system_png=OFF -DFEATURE_system_freetype=OFF -DFEATURE_system_doubleconversion=OFF
 -DFEATURE_system_md4c=OFF -DFEATURE_testlib=ON -DFEATURE_direct2d=ON"
gensio_options="--with-all-gensios=yes --without-openssl --without-openipmi --without-python --without-go"
key=$(printf '%s\n' "$qt_version $qt_sha256 $serial_sha256 $gensio_sha256 $qt_options $gensio_options" \
    "$(x86_64-w64-mingw32-g++-posix -dumpversion)" | sha256sum | cut -c1-12)
cache=${TK_WIN_CACHE:-${XDG_CACHE_HOME:-$HOME/.cache}/terminal-kontrol-win}
prefix=$cache/$key
sources=$cache/sources
jobs=$(nproc)

# A tarball checked against its pinned sha256: from ../shared/deps/ or the cache when there,
# else downloaded.
fetch() { # file sha256 url...
    file=$1 sum=$2
    shift 2
    mkdir -p "$sources"
    for dir in "$top/../shared/deps" "$sources"; do
        if [ -f "$dir/$file" ] && echo "$sum  $dir/$file" | sha256sum -c --quiet 2>/dev/null; then
            echo "$dir/$file"
            return
        fi
    done
    for url in "$@"; do
        if curl -fsSL -o "$sources/$file.part" "$url" &&
            echo "$sum  $sources/$file.part" | sha256sum -c --quiet 2>/dev/null; then
            mv "$sources/$file.part" "$sources/$file"
            echo "$sources/$file"
            return
        fi
    done
    echo "build-windows: cannot get $file with sha256 $sum" >&2
    exit 1
}

# Debian's qt6-base source, through apt-get source with a private list of deb-src lines, so
# that the system's apt configuration stays as it is.
fetch_qt() {
    if [ ! -f "$sources/$qt_tarball" ]; then
        apt=$(mktemp -d)
        mkdir -p "$apt/lists/partial" "$apt/cache/archives/partial"
        echo "deb-src http://deb.debian.org/debian bookworm main" >"$apt/sources.list"
        set -- -o Dir::State::Lists="$apt/lists" -o Dir::Cache="$apt/cache" \
            -o Dir::Etc::SourceList="$apt/sources.list" -o Dir::Etc::SourceParts=/nonexistent \
            -o APT::Sandbox::User="$(id -un)" -q
        apt-get "$@" update >/dev/null
        mkdir -p "$sources"
        # Any Debian revision: only the upstream tarball is used, checked by its sha256.
        (cd "$apt" && apt-get "$@" source --download-only qt6-base >/dev/null)
        mv "$apt/$qt_tarball" "$sources/" 2>/dev/null || true
        rm -rf "$apt"
    fi
    fetch "$qt_tarball" "$qt_sha256" \
        "https://deb.debian.org/debian/pool/main/q/qt6-base/$qt_tarball"
}

toolchain=$cache/mingw-w64.cmake
write_toolchain() {
    mkdir -p "$cache"
    cat >"$toolchain" <<TOOLCHAIN
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(CMAKE_C_COMPILER $host-gcc-posix)
set(CMAKE_CXX_COMPILER $host-g++-posix)
set(CMAKE_RC_COMPILER $host-windres)
set(CMAKE_FIND_ROOT_PATH /usr/$host $prefix)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
TOOLCHAIN
}

build_deps() {
    [ -f "$prefix/.complete" ] && return
    # An interrupted build goes on where it stopped.
    work=$cache/work-$key
    mkdir -p "$work"
    echo "build-windows: building Qt $qt_version and gensio $gensio_version for Windows into $prefix (about an hour on 2 cores)"

    qtsrc=$(find "$work" -maxdepth 1 -type d -name 'qtbase*' | head -n1)
    if [ -z "$qtsrc" ]; then
        tar -xf "$(fetch_qt)" -C "$work"
        qtsrc=$(find "$work" -maxdepth 1 -type d -name 'qtbase*' | head -n1)
    fi
    [ -f "$work/qtbase-build/build.ninja" ] ||
    # shellcheck disable=SC2086
    cmake -S "$qtsrc" -B "$work/qtbase-build" -G Ninja -Wno-dev \
        -DCMAKE_TOOLCHAIN_FILE="$toolchain" -DCMAKE_INSTALL_PREFIX="$prefix" \
        -DCMAKE_BUILD_TYPE=Release -DBUILD_SHARED_LIBS=ON \
        -DQT_HOST_PATH=/usr -DQT_HOST_PATH_CMAKE_DIR=/usr/lib/x86_64-linux-gnu/cmake \
        -DQT_BUILD_EXAMPLES=OFF -DQT_BUILD_TESTS=OFF $qt_options >"$work/qtbase-configure.log"
    cmake --build "$work/qtbase-build" -j "$jobs" >"$work/qtbase-build.log"
    cmake --install "$work/qtbase-build" >/dev/null

    tar -xf "$(fetch "$serial_tarball" "$serial_sha256" \
        "https://download.qt.io/archive/qt/6.4/$qt_version/submodules/qtserialport-everywhere-src-$qt_version.tar.xz")" -C "$work"
    serialsrc=$(find "$work" -maxdepth 1 -type d -name 'qtserialport*' | head -n1)
    "$prefix/bin/qt-configure-module" "$serialsrc" -- -B "$work/qtserialport-build" >"$work/qtserialport.log" 2>&1 ||
        cmake -S "$serialsrc" -B "$work/qtserialport-build" -G Ninja -Wno-dev \
            -DCMAKE_TOOLCHAIN_FILE="$prefix/lib/cmake/Qt6/qt.toolchain.cmake" \
            -DQT_HOST_PATH=/usr -DQT_HOST_PATH_CMAKE_DIR=/usr/lib/x86_64-linux-gnu/cmake \
            -DCMAKE_BUILD_TYPE=Release >>"$work/qtserialport.log"
    cmake --build "$work/qtserialport-build" -j "$jobs" >>"$work/qtserialport.log"
    cmake --install "$work/qtserialport-build" >/dev/null

    tar -xf "$(fetch "$gensio_tarball" "$gensio_sha256" \
        "https://github.com/cminyard/gensio/archive/refs/tags/v$gensio_version.tar.gz")" -C "$work"
    gensiosrc=$(find "$work" -maxdepth 1 -type d -name 'gensio*' | head -n1)
    # Only lib/: the tools include Windows headers by names a case-sensitive file system lacks.
    # shellcheck disable=SC2086
    (cd "$gensiosrc" && ./reconf >/dev/null 2>&1 &&
        ./configure --host=$host --prefix="$prefix" --enable-shared --disable-static \
            $gensio_options CC=$host-gcc-posix CXX=$host-g++-posix >"$work/gensio.log" 2>&1 &&
        make -C lib -j "$jobs" >>"$work/gensio.log" 2>&1 &&
        make -C lib install >>"$work/gensio.log" 2>&1 &&
        make -C include install >>"$work/gensio.log" 2>&1)
    touch "$prefix/.complete"
    rm -rf "$work"
}

write_toolchain
build_deps
[ "${1-}" = deps ] && exit 0

if [ "${1-}" = tests ]; then
    sh tools/install-deps.sh run wine wine64
    tests=$top/build-win-tests
    cmake -S "$top" -B "$tests" -G Ninja -Wno-dev \
        -DCMAKE_TOOLCHAIN_FILE="$prefix/lib/cmake/Qt6/qt.toolchain.cmake" \
        -DQT_HOST_PATH=/usr -DQT_HOST_PATH_CMAKE_DIR=/usr/lib/x86_64-linux-gnu/cmake \
        -DCMAKE_PREFIX_PATH="$prefix" -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=ON \
        -DCMAKE_CROSSCOMPILING_EMULATOR=wine >/dev/null
    cmake --build "$tests" -j "$jobs"
    # A prefix of their own; the DLLs from the cache and the cross compiler's runtime.
    winpath() { printf 'Z:%s' "$1" | tr / '\\'; }
    WINEPREFIX=$tests/prefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" QT_QPA_PLATFORM=offscreen \
        WINEPATH="$(winpath "$prefix/bin");$(winpath "$(dirname "$($host-g++-posix -print-file-name=libstdc++-6.dll)")");$(winpath /usr/$host/lib)" \
        ctest --test-dir "$tests" --output-on-failure
    WINEPREFIX=$tests/prefix wineserver -k 2>/dev/null || true
    exit 0
fi

# The window and the command line, against the cache's Qt and gensio.
build=$top/build-win
cmake -S "$top" -B "$build" -G Ninja -Wno-dev \
    -DCMAKE_TOOLCHAIN_FILE="$prefix/lib/cmake/Qt6/qt.toolchain.cmake" \
    -DQT_HOST_PATH=/usr -DQT_HOST_PATH_CMAKE_DIR=/usr/lib/x86_64-linux-gnu/cmake \
    -DCMAKE_PREFIX_PATH="$prefix" -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF >/dev/null
cmake --build "$build" -j "$jobs"
version=$(sed -n 's/.*programVersion\[\] = "\(.*\)";/\1/p' "$build/generated/buildinfo.h")

# The programs with every DLL they load beside them: the portable folder and the installer's.
stage=$build/stage
rm -rf "$stage"
mkdir -p "$stage/platforms" "$stage/styles"
cp "$build/app/terminal-kontrol.exe" "$build/app/terminal-kontrol-cli.exe" "$stage/"
for dll in Qt6Core Qt6Gui Qt6Widgets Qt6SerialPort; do
    cp "$prefix/bin/$dll.dll" "$stage/"
done
cp "$prefix/plugins/platforms/qwindows.dll" "$stage/platforms/"
cp "$prefix"/plugins/styles/*.dll "$stage/styles/" 2>/dev/null || rmdir "$stage/styles"
cp "$prefix"/bin/libgensio*.dll "$stage/"
for dll in libstdc++-6.dll libgcc_s_seh-1.dll; do
    cp "$($host-g++-posix -print-file-name=$dll)" "$stage/"
done
cp "/usr/$host/lib/libwinpthread-1.dll" "$stage/"
# Qt's own texts in Turkish on a Turkish system, as on Linux (the .qm files are the same).
# qt.conf makes the program's folder Qt's: without it Qt looks for them beside the folder.
mkdir -p "$stage/translations"
cp /usr/share/qt6/translations/qtbase_tr.qm "$stage/translations/"
printf '[Paths]\nPrefix = .\n' >"$stage/qt.conf"
find "$stage" -name '*.exe' -o -name '*.dll' | xargs $host-strip --strip-unneeded

zip=$build/terminal-kontrol-$version-win64.zip
rm -f "$zip"
(cd "$build" && mv stage terminal-kontrol-$version && zip -qr "$zip" terminal-kontrol-$version &&
    mv terminal-kontrol-$version stage)

# The uninstaller removes exactly what was installed, deepest first.
(cd "$stage" && find . -type f | sed 's|^\./||; s|/|\\|g; s|.*|    Delete "$INSTDIR\\&"|' &&
    find . -mindepth 1 -type d | sort -r | sed 's|^\./||; s|/|\\|g; s|.*|    RMDir "$INSTDIR\\&"|') \
    >"$build/installed-files.nsh"
makensis -V2 -DFACTS="$build/installer-facts.nsh" -DSTAGE="$stage" \
    -DFILELIST="$build/installed-files.nsh" \
    -DOUTFILE="$build/terminal-kontrol-$version-setup.exe" "$top/dist/windows/installer.nsi"
echo "build-windows: $zip"
echo "build-windows: $build/terminal-kontrol-$version-setup.exe"
