#!/bin/sh
# Tries the package for real: builds it, installs it with apt into a fresh Debian 12 root,
# starts the installed command there under Xvfb and drives it (tools/debtrial.py), then
# purges the package and checks that it left nothing behind. Needs root; the root lives in
# build-pkg/root and is removed at the end. TK_MIRROR names a Debian mirror; without it,
# debootstrap takes Debian's default.
set -eu
cd "$(dirname "$0")/.."
top=$PWD
root=$top/build-pkg/root
programdir=/usr/lib/terminal-kontrol
began=$(date +%s)
elapsed() { echo "$(($(date +%s) - began)) s"; }

tools/install-deps.sh debootstrap python3

# Mounts under the root, deepest first. Removing the root while one is left would reach
# into /dev, so every removal checks first.
mounts_under_root() { awk -v r="$root/" 'index($2, r) == 1 { print $2 }' /proc/mounts | sort -r; }
unmount_root() {
    for m in $(mounts_under_root); do umount "$m" || umount -l "$m"; done
    [ -z "$(mounts_under_root)" ]
}
remove_root() {
    unmount_root || { echo "still mounted under $root; not removing it"; return 1; }
    rm -rf --one-file-system "$root"
}
xvfb=""
cleanup() {
    [ -z "$xvfb" ] || kill "$xvfb" 2>/dev/null || true
    unmount_root || echo "could not unmount everything under $root"
}
trap cleanup EXIT
trap 'exit 1' INT TERM

sh tools/build-deb.sh
deb=$(ls build-pkg/terminal-kontrol_*.deb)
echo "package: $deb, $(stat -c %s "$deb") bytes, built after $(elapsed)"
# The version and the menu entry's id as the build made them from CMakeLists.txt.
version=$(dpkg-deb -f "$deb" Version)
appid=$(dpkg-deb -c "$deb" | sed -n 's|.*/usr/share/applications/\(.*\)\.desktop$|\1|p')
[ -n "$version" ] && [ -n "$appid" ] || { echo "FAIL: no version ($version) or menu entry ($appid) in $deb"; exit 1; }

remove_root
mkdir -p build-pkg/debootstrap-cache build-pkg/apt-archives/partial
debootstrap --variant=minbase --cache-dir="$top/build-pkg/debootstrap-cache" bookworm "$root" ${TK_MIRROR:+"$TK_MIRROR"}
echo "debootstrap done after $(elapsed)"

mount -t proc proc "$root/proc"
mount -t sysfs sys "$root/sys"
mount --bind /dev "$root/dev"
# A devpts of its own, so that /dev/pts/N means the same inside and out.
mount -t devpts -o newinstance,ptmxmode=0666,mode=0620,gid=5 devpts "$root/dev/pts"
mount --bind "$root/dev/pts/ptmx" "$root/dev/ptmx"
# As on a booted Debian: /var/lock is /run/lock, a tmpfs everyone may write.
mkdir -p "$root/run/lock"
mount -t tmpfs -o mode=1777 tmpfs "$root/run/lock"
# Downloads are kept between runs; the root itself is always fresh.
mount --bind build-pkg/apt-archives "$root/var/cache/apt/archives"
cp /etc/resolv.conf "$root/etc/resolv.conf"
cp "$deb" "$root/tmp/"
in_root() { chroot "$root" env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin DEBIAN_FRONTEND=noninteractive LANG=C.UTF-8 "$@"; }
in_root apt-get update -q
in_root useradd -m -G dialout kontrol

# What the root looks like with the package's dependencies but without the package.
listing() {
    (cd "$root" && find . -xdev \( -path ./var/cache -o -path ./var/lib/apt -o -path ./var/lib/dpkg \
        -o -path ./var/log -o -path ./tmp -o -path ./run \) -prune -o -print | sort)
}
# Without recommended packages, so that none of them can hide a missing dependency.
# The maintainer scripts first without systemd, then with it (for enabling the timer).
in_root apt-get install -y --no-install-recommends "/tmp/${deb##*/}"
in_root apt-get purge -y terminal-kontrol
in_root apt-get install -y --no-install-recommends systemd
listing > build-pkg/root-before.txt

echo "installing again after $(elapsed)"
in_root apt-get install -y --no-install-recommends "/tmp/${deb##*/}"
echo "installed size: $(in_root dpkg-query -W -f='${Installed-Size}' terminal-kontrol) KiB"
for command in terminal-kontrol terminal-kontrol-cli terminal-kontrol-sim; do
    [ "$(readlink "$root/usr/bin/$command")" = "../lib/terminal-kontrol/$command" ] \
        && [ "$(readlink -f "$root/usr/bin/$command")" = "$root$programdir/$command" ] \
        || { echo "FAIL: /usr/bin/$command is not a relative link to $programdir/$command"; exit 1; }
done
# The example map is the administrator's once installed: dpkg must keep their edits.
map=/etc/xdg/terminal-kontrol/terminal-kontrol.conf
conffiles=$(in_root dpkg-query --showformat='${Conffiles}' -W terminal-kontrol)
echo "conffiles:$conffiles"
echo "$conffiles" | grep -q "^ $map [0-9a-f]\{32\}\$" || { echo "FAIL: $map is not a conffile"; exit 1; }
if grep -v '^;' "$root$map" | grep -q .; then
    echo "FAIL: $map has a line that is not a comment"
    exit 1
fi
# The clock timer is shipped, not enabled: that is the administrator's choice.
for unit in terminal-kontrol-clock.service terminal-kontrol-clock.timer; do
    [ -f "$root/lib/systemd/system/$unit" ] || { echo "FAIL: $unit is not installed"; exit 1; }
done
# The .dsh-also file only records what enabling would make, for purge to remove.
enabled=$(cd "$root" && find etc lib usr/lib var/lib -xdev \( -path '*.wants/terminal-kontrol-clock.*' \
    -o -path '*/deb-systemd-helper-enabled/*terminal-kontrol-clock*' \) ! -name '*.dsh-also' 2>/dev/null || true)
[ -z "$enabled" ] || { echo "FAIL: the clock timer is enabled: $enabled"; exit 1; }
echo "clock units installed, not enabled"
# With no COMn in the machine's map, the service's check says so in one line and skips the run.
condition=$(sed -n 's/^ExecCondition=//p' "$root/lib/systemd/system/terminal-kontrol-clock.service")
status=0
said=$(in_root runuser -u kontrol -- $condition 2>&1) || status=$?
[ "$status" -ge 1 ] && [ "$status" -le 254 ] && [ "$(echo "$said" | wc -l)" -eq 1 ] \
    && echo "$said" | grep -q /etc/xdg/terminal-kontrol \
    || { echo "FAIL: $condition with no map gave $status: $said"; exit 1; }
echo "nothing mapped: $condition says \"$said\" ($status: skipped, not failed)"
printf '9600\r\n' > "$root$programdir/Vxl00.Def"

Xvfb -displayfd 3 -noreset -screen 0 1024x768x24 3>build-pkg/xvfb-display 2>build-pkg/xvfb.log &
xvfb=$!
for _ in $(seq 100); do [ -s build-pkg/xvfb-display ] && break; sleep 0.1; done
display=:$(cat build-pkg/xvfb-display)
# The root reaches the server through its abstract socket, which no chroot hides.
python3 tools/debtrial.py --root "$root" --display "$display" --user kontrol --programdir "$programdir" \
    --version "$version" --app-id "$appid"

rm "$root$programdir/Vxl00.Def"
in_root dpkg -L terminal-kontrol > build-pkg/package-files.txt
# The administrator enables the timer; purge must take the enablement along.
in_root systemctl enable terminal-kontrol-clock.timer
[ -L "$root/etc/systemd/system/timers.target.wants/terminal-kontrol-clock.timer" ] \
    || { echo "FAIL: systemctl enable made no link"; exit 1; }
in_root apt-get purge -y terminal-kontrol
dangling=$(cd "$root" && find etc/systemd -xtype l)
[ -z "$dangling" ] || { echo "FAIL: dangling links after purge: $dangling"; exit 1; }
echo "enabled timer purged: no dangling link under /etc/systemd"
listing > build-pkg/root-after.txt
if ! diff build-pkg/root-before.txt build-pkg/root-after.txt; then
    echo "FAIL: the root differs after the package was purged"
    exit 1
fi
left=$(while read -r f; do [ -e "$root$f" ] && ! in_root dpkg -S "$f" >/dev/null 2>&1 && echo "$f"; done \
    < build-pkg/package-files.txt || true)
if [ -n "$left" ]; then
    echo "FAIL: left behind: $left"
    exit 1
fi
echo "purged: nothing of the package is left"

remove_root
echo "PASS after $(elapsed)"
