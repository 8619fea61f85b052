#!/usr/bin/env bash
# Runs the fault program in a Wine prefix made for this run alone, with a small disk as drive
# F:: a size-limited tmpfs when this machine lets us mount one (as root), else a plain folder,
# on which the full-disk points are skipped. The tmpfs also holds the system's temporary folder
# (C:\windows\temp), where the installer makes its own: F:\Temp is mounted there. The prefix's
# server is stopped and the disk released at the end, whatever the program's outcome; the
# program's exit code is returned.
# Usage: fault_prefix.sh PREFIX WINE_RUN PROGRAM [ARGUMENT...]
set -u
prefix="$(realpath -m "$1")"
wine_run="$2"
shift 2
disk="$prefix.disk"
temp="$prefix/drive_c/windows/temp"

stop() {
    WINEPREFIX="$prefix" wineserver -k >/dev/null 2>&1 || true
}
release_disk() {
    if mountpoint -q "$temp" 2>/dev/null; then
        umount "$temp" 2>/dev/null || umount -l "$temp"
    fi
    if mountpoint -q "$disk" 2>/dev/null; then
        umount "$disk" 2>/dev/null || umount -l "$disk"
    fi
}
stop
release_disk
rm -rf "$prefix" "$prefix.lock" "$disk"
mkdir -p "$disk"
trap 'stop; release_disk' EXIT
limited=1
if ! mount -t tmpfs -o size=64m,mode=0755 stelvane-faults "$disk" 2>/dev/null; then
    echo "fault_prefix.sh: no tmpfs could be mounted; F: has no size limit" >&2
    limited=0
fi

# wine-run.sh makes and boots the prefix on its first call; F: joins it before the program runs.
# Under Xvfb no window manager answers: the X11 driver would wait two seconds for one each time
# a window of its own goes, so its windows are left unmanaged here.
STELVANE_WINEPREFIX="$prefix" "$wine_run" reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f \
    </dev/null >/dev/null 2>&1
ln -s "$disk" "$prefix/dosdevices/f:"
if [ "$limited" -eq 1 ]; then
    mkdir -p "$disk/Temp"
    mount --bind "$disk/Temp" "$temp" ||
        echo "fault_prefix.sh: the system's temporary folder stays on C:, off the small disk" >&2
fi
STELVANE_WINEPREFIX="$prefix" "$wine_run" "$@"
