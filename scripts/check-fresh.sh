#!/usr/bin/env bash
# Does what a newcomer does on a fresh Debian 12 machine, without one: makes
# a minimal Debian 12 root with debootstrap, clones the committed project
# into it and runs the README's test command there, as CI runs it. Nothing
# this machine installed or built is reused: packages, Wine prefixes and the
# emulated 32-bit machine's cache are all made anew inside the root. Prints
# the run's last lines, its time and its exit status; exits with that status.
#
#   sudo scripts/check-fresh.sh
#
# Not part of CI: it takes about as long as CI and a cold build together.
#   QV_FRESH_ROOT     where the root is made (/var/tmp/quorvane-fresh); a
#                     root left there by an earlier run is removed first
#   QV_FRESH_MIRROR   the Debian mirror (http://deb.debian.org/debian)
#   QV_FRESH_KEEP=1   keep the root afterwards (it is removed by default)
set -uo pipefail
ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
FRESH=${QV_FRESH_ROOT:-/var/tmp/quorvane-fresh}
MIRROR=${QV_FRESH_MIRROR:-http://deb.debian.org/debian}
LOG=$FRESH.log
# The packages of set-up, three build trees, the emulated machine and its
# build room, with some margin.
readonly NEEDED_FREE_MB=30000
readonly PROJECT=/work/quorvane
source "$ROOT/scripts/lib.sh"
QV_SAY_TAG=fresh

[ "$(id -u)" -eq 0 ] || fail "run as root (debootstrap, chroot, mounts)"
qv_require_machine || fail "setup failed"
# What the project is cloned with, which set-up takes for granted.
command -v git >/dev/null || fail "this machine lacks git"
case "$FRESH/" in
  / | "$ROOT"/*) fail "the root $FRESH may not be / nor lie inside the work tree" ;;
esac

# One run at a time: a second one would unmount and remove the first's root
# under it.
exec 9>"$FRESH.lock"
flock -n 9 || fail "another check-fresh.sh is running with the root $FRESH"

# Every mount under the root, deepest first.
unmount_all() {
  local mounts
  mounts=$(findmnt -rn -o TARGET | grep -E "^$FRESH(/|$)" | sort -r)
  [ -z "$mounts" ] || xargs -r -d '\n' umount -l <<<"$mounts"
}

# A root left by an earlier run, finished or cut short, is never built on:
# it goes whole, its mounts first.
remove_root() {
  end_processes_in_root
  unmount_all
  if findmnt -rn -o TARGET | grep -qE "^$FRESH(/|$)"; then fail "could not unmount everything under $FRESH"; fi
  rm -rf --one-file-system "$FRESH"
}

# Whatever the run left running inside the root (it was all started from
# here): ended, so that nothing holds the root's mounts.
end_processes_in_root() {
  local link pid
  for link in /proc/[0-9]*/root; do
    [ "$(readlink "$link" 2>/dev/null)" = "$FRESH" ] || continue
    pid=${link#/proc/}
    pid=${pid%/root}
    kill -KILL "$pid" 2>/dev/null
  done
}

finish() {
  end_processes_in_root
  unmount_all
  if [ "${QV_FRESH_KEEP:-}" != 1 ]; then rm -rf --one-file-system "$FRESH"; fi
}

free_mb() { df -Pm "$1" | awk 'NR == 2 { print $4 }'; }

if [ -e "$FRESH" ]; then
  say "removing the root of an earlier run ($FRESH)"
  remove_root
fi
mkdir -p "$(dirname "$FRESH")"
free=$(free_mb "$(dirname "$FRESH")")
((free >= NEEDED_FREE_MB)) || fail "the fresh root needs about $NEEDED_FREE_MB MB free beside $FRESH; $free MB are"
qv_on_exit finish

start=$SECONDS
say "debootstrap of Debian 12 (minbase) into $FRESH"
debootstrap --variant=minbase bookworm "$FRESH" "$MIRROR" >"$LOG" 2>&1 ||
  { tail -n 20 "$LOG"; fail "debootstrap failed (log: $LOG)"; }
say "  done in $((SECONDS - start)) s"

# The package sources and settings of a new machine of this workplace, and
# its name server; nothing else of this machine.
rm -f "$FRESH/etc/apt/sources.list"
cp /etc/apt/sources.list.d/*.sources "$FRESH/etc/apt/sources.list.d/" 2>/dev/null
[ ! -f /etc/apt/sources.list ] || cp /etc/apt/sources.list "$FRESH/etc/apt/"
cp /etc/apt/apt.conf.d/99* "$FRESH/etc/apt/apt.conf.d/" 2>/dev/null
cp -L /etc/resolv.conf "$FRESH/etc/resolv.conf"

say "cloning the committed project ($(git -C "$ROOT" rev-parse --short HEAD)) into $PROJECT"
git clone -q "$ROOT" "$FRESH$PROJECT" || fail "could not clone $ROOT"

# Private, so that nothing mounted inside (the emulated machine's build
# mounts /proc and /sys of its own root, the LAN tests /run/netns) reaches
# this machine's own mounts.
bind_private() { mount --bind "$1" "$2" && mount --make-private "$2"; }
tmpfs_private() { mount -t tmpfs -o "mode=$1" tmpfs "$2" && mount --make-private "$2"; }
# The root a mount point of its own, as / is on a real machine: "ip netns
# exec" makes / a slave mount, which fails on a plain folder.
if ! { bind_private "$FRESH" "$FRESH" && bind_private /proc "$FRESH/proc" && bind_private /sys "$FRESH/sys" &&
  bind_private /dev "$FRESH/dev" && bind_private /dev/pts "$FRESH/dev/pts" &&
  tmpfs_private 1777 "$FRESH/dev/shm" && tmpfs_private 755 "$FRESH/run"; }; then
  fail "could not mount the root, /proc, /sys, /dev and /run"
fi
mkdir -p "$FRESH/run/netns"

say "running the README's test command there, as CI does (CI=true scripts/test.sh; log: $LOG)"
run_start=$SECONDS
chroot "$FRESH" /usr/bin/env -i PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin \
  HOME=/root LANG=C.UTF-8 CI=true /bin/bash -c "cd $PROJECT && scripts/test.sh" >>"$LOG" 2>&1 </dev/null
status=$?
say "the run's last lines:"
tail -n 25 "$LOG" | sed 's/^/    /'
say "the test run took $((SECONDS - run_start)) s, all of this $((SECONDS - start)) s; exit status $status"
exit "$status"
