#!/bin/sh
# Where the cost of storing small captures comes from, file system by file
# system: bench_cache_files on a fresh ext4 (a new image on a loop device), on
# tmpfs and on the everyday file system of the work folder, each once as it
# is and once after its cache folder lost a million files (--churn), as after
# a long capture that was not kept. Needs root for the mounts; without root,
# or where loop devices do not work, it says so and measures what it can.
# Usage: bench/cache_files.sh [build dir] [captures per run] [files lost]
set -eu
build=${1:-build}
count=${2:-100000}
churn=${3:-1000000}
bench="$build/bench/bench_cache_files"
[ -x "$bench" ] || { echo "build $bench first (cmake --build $build --target bench_cache_files)" >&2; exit 1; }

. "$(dirname "$0")/bench_common.sh"
# Mounts go before the work folder does.
mounts=""
loopDevice=""
unmountAll() {
    for m in $mounts; do umount "$m" 2>/dev/null || umount -l "$m" 2>/dev/null || true; done
    [ -z "$loopDevice" ] || losetup -d "$loopDevice" 2>/dev/null || true
    cleanup
}
trap unmountAll EXIT INT TERM

# One run of the benchmark in a fresh data home below $1, named $2.
measure() {
    home=$(mktemp -d "$1/home.XXXXXX")
    echo "== $2"
    "$bench" --home "$home" --count "$count" ${3:+--churn "$3"}
    rm -rf "$home"
    sync
}

# Each file system twice: as found, and after its cache folder lost files.
# A fresh file system is made anew for the second run.
freshExt4() {
    image="$work/ext4.img"
    rm -f "$image"
    # Room and inodes for the files lost and the files measured.
    truncate -s $(( (churn + 2 * count) * 6 / 1024 + 1024 ))M "$image"
    mkfs.ext4 -q -F -N $(( churn + 2 * count + 65536 )) "$image"
    loopDevice=$(losetup -f --show "$image")
    mkdir -p "$work/ext4"
    mount "$loopDevice" "$work/ext4"
    mounts="$work/ext4 $mounts"
}
dropExt4() {
    umount "$work/ext4"
    losetup -d "$loopDevice"
    loopDevice=""
    mounts=$(echo "$mounts" | sed "s|$work/ext4||")
    rm -f "$work/ext4.img"
}

if [ "$(id -u)" -eq 0 ] && command -v losetup >/dev/null && freshExt4 2>"$work/loop.err"; then
    measure "$work/ext4" "fresh ext4 on a loop device"
    dropExt4
    freshExt4
    measure "$work/ext4" "fresh ext4, after its cache folder lost $churn files" "$churn"
    dropExt4
else
    echo "== no fresh ext4: loop devices are not available here ($(cat "$work/loop.err" 2>/dev/null || echo 'not root'))"
fi

if [ "$(id -u)" -eq 0 ]; then
    mkdir -p "$work/tmpfs"
    mount -t tmpfs -o size=$(( (churn + 2 * count) * 6 / 1024 + 512 ))m,mode=0700 tmpfs "$work/tmpfs"
    mounts="$work/tmpfs $mounts"
    measure "$work/tmpfs" "tmpfs"
    measure "$work/tmpfs" "tmpfs, after its cache folder lost $churn files" "$churn"
else
    echo "== no tmpfs: mounting needs root"
fi

everyday=$(df -T "$work" | awk 'NR == 2 { print $2 " (" $1 ")" }')
measure "$work" "everyday file system of the work folder: $everyday"
measure "$work" "everyday file system, after its cache folder lost $churn files" "$churn"
echo "load while measuring: $(cut -d' ' -f1-3 /proc/loadavg)"
