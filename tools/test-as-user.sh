#!/bin/sh
# Runs tools/test.sh as an ordinary user of the dialout group, as the README's user does:
# a user's PATH (without /usr/sbin), no root rights. As root, after tools/test.sh. The user
# (TK_TEST_USER, default tk-tester) is made when missing. The build folder becomes theirs;
# the checkout stays as it is and only needs to be readable, else it is copied to their home.
set -e
cd "$(dirname "$0")/.."
user=${TK_TEST_USER:-tk-tester}
[ "$(id -u)" -eq 0 ] || { echo "tools/test-as-user.sh runs as root" >&2; exit 1; }
id -u "$user" >/dev/null 2>&1 || useradd --create-home --shell /bin/sh "$user"
usermod -a -G dialout "$user"
home=$(getent passwd "$user" | cut -d: -f6)
as_user() { runuser -u "$user" -- env PATH=/usr/local/bin:/usr/bin:/bin "$@"; }
# By its full path: the build refers to the checkout so, and a folder on the way may be closed.
if as_user test -r "$PWD/CMakeLists.txt" -a -r "$PWD/tools/test.sh"; then
    mkdir -p build
    chown -R "$user:" build
    as_user sh tools/test.sh
else
    echo "$user cannot read $PWD: testing a copy in $home/terminal-kontrol"
    rm -rf "$home/terminal-kontrol"
    mkdir "$home/terminal-kontrol"
    tar -cf - --exclude='./build*' . | tar -xf - -C "$home/terminal-kontrol"
    chown -R "$user:" "$home/terminal-kontrol"
    (cd "$home/terminal-kontrol" && as_user sh tools/test.sh)
fi
