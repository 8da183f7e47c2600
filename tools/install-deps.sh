#!/bin/sh
# Installs what building, running and testing need on Debian 12; packages already there are kept.
set -e
packages="cmake g++ make qt6-base-dev qt6-serialport-dev qt6-qpa-plugins libgl-dev fonts-wine fonts-dejavu-core fonts-freefont-ttf xvfb xdotool x11-utils"
missing=""
for p in $packages; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing="$missing $p"
done
if [ -n "$missing" ]; then
    apt-get update
    DEBIAN_FRONTEND=noninteractive apt-get install -y $missing
fi
