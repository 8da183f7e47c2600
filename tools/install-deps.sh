#!/bin/sh
# Installs what building and running (and, unless the first argument is "run", testing) need
# on Debian 12, and any further packages named as arguments; packages already there are kept.
# Recommended packages change nothing on screen.
# usage: install-deps.sh [run] [PACKAGE...]
set -e
packages="cmake g++ make pkgconf libgensio-dev libxcb-xtest0-dev qt6-base-dev qt6-serialport-dev qt6-qpa-plugins qt6-translations-l10n libgl-dev fonts-wine fonts-liberation2 fonts-dejavu-core fonts-freefont-ttf"
if [ "$1" = run ]; then
    shift
else
    packages="$packages xvfb xdotool x11-utils ser2net python3-serial"
fi
packages="$packages $*"
missing=""
for p in $packages; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing="$missing $p"
done
[ -z "$missing" ] && exit 0
command="apt-get update && apt-get install -y --no-install-recommends$missing"
if [ "$(id -u)" -ne 0 ]; then
    echo "Missing Debian packages:$missing" >&2
    echo "Install them as root (su - or sudo), then run this again:" >&2
    echo "  $command" >&2
    exit 1
fi
apt-get update
DEBIAN_FRONTEND=noninteractive apt-get install -y --no-install-recommends $missing
