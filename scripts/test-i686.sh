#!/usr/bin/env bash
# The shipped 32-bit program's Windows tests, run where 32-bit code runs: an
# emulated Debian 12 machine (qemu-system-x86_64 with TCG, the stock Debian
# amd64 kernel, no network device at all) with 32-bit Wine on a virtual
# display and LC_ALL=zh_CN.UTF-8. Builds the win32 preset, hands its build
# tree to the machine through a shared folder, runs CTest there and prints
# CTest's summary. The LAN tests build their namespaces inside the machine:
# nothing they send can leave it.
#
#   scripts/test-i686.sh            the 32-bit Windows tests
#   scripts/test-i686.sh --bench    the 32-bit benchmarks (worker_bench,
#                                   listview_bench, the program at 1,024 workers)
#   scripts/test-i686.sh --check    says why this machine cannot run them
#                                   (exit 77), or nothing (exit 0)
#
# The machine is built once (about ten minutes) from Debian's packages and
# kept in QV_I686_CACHE (default /var/cache/quorvane-i686), under a key made
# of its package list and the scripts that build it: when either changes, it
# is built anew. Needs root (debootstrap, chroot).
#   QV_I686_TESTS / QV_I686_EXCLUDE   CTest -R / -E regular expressions
#   QV_I686_TIME_LIMIT                seconds the whole guest run may take (3300:
#                                     beside two busy loops the machine runs its
#                                     tests about six times slower than quiet,
#                                     and CI as a whole must end within 90 min)
#   QV_I686_MEMORY, QV_I686_CPUS      the machine's memory (MB, 4096) and cores (2)
#   QV_BENCH_MEMORY_RUNS, QV_BENCH_WORKERS, QV_BENCH_LISTVIEW
#                                     with --bench: which runs of the program
#                                     at 1,024 workers, and whether the
#                                     engine-alone and list benchmarks run
#                                     (0: not); passed on to the machine
set -uo pipefail
ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$ROOT"
source scripts/lib.sh
QV_SAY_TAG=i686

GUEST_SCRIPTS=$ROOT/scripts/i686-guest
CACHE=${QV_I686_CACHE:-/var/cache/quorvane-i686}
BUILD=$ROOT/build/win32
TIME_LIMIT=${QV_I686_TIME_LIMIT:-3300}
# Boots take 20 s to a minute; on a host busy with other builds, several.
BOOT_LIMIT=600
PREPARE_LIMIT=1200
MEMORY=${QV_I686_MEMORY:-4096}
CPUS=${QV_I686_CPUS:-2}
# Debootstrap root, image and the build's own room, with some margin.
readonly NEEDED_FREE_MB=9000
readonly SKIP=77

mode=tests
case "${1:-}" in
  "") ;;
  --bench) mode=bench ;;
  --check) mode=check ;;
  *)
    echo "usage: $0 [--bench | --check]" >&2
    exit 2
    ;;
esac

# Why this machine cannot build or run the emulated machine; nothing if it can.
unavailable_reason() {
  if [ "$(id -u)" -ne 0 ]; then echo "building the emulated machine needs root (debootstrap, chroot)"; return; fi
  mkdir -p "$CACHE" 2>/dev/null && [ -w "$CACHE" ] || { echo "the cache folder $CACHE cannot be written"; return; }
  case "$CACHE/" in
    "$ROOT"/*) echo "the cache folder $CACHE lies inside the work tree"; return ;;
  esac
}

# The machine's key: its package list and every script that goes into it
# (the library among them: the machine's Wine prefix is made with it).
guest_key() {
  cat "$GUEST_SCRIPTS/packages.txt" "$GUEST_SCRIPTS/build-image.sh" "$GUEST_SCRIPTS/init" \
    "$GUEST_SCRIPTS/prepare.sh" "$ROOT/scripts/lib.sh" | sha256sum | cut -c1-16
}

free_mb() { df -Pm "$1" | awk 'NR == 2 { print $4 }'; }

# run_guest <machine folder> <shared folder> <time limit s> <persist|snapshot>
# Boots the machine with the job in the shared folder, shows the job's
# progress, and returns the job's status; 124 when the machine did not boot
# or did not finish in time, 125 when it stopped without a result.
run_guest() {
  local machine=$1 share=$2 limit=$3 disk_mode=$4
  local console=$share/console.log drive="file=$machine/root.img,format=raw,if=virtio"
  if [ "$disk_mode" = snapshot ]; then drive+=",snapshot=on"; else drive+=",cache=writeback"; fi
  rm -f "$share/job.status" "$console"
  : >"$console"
  # qemu64, not "max": with TCG's SMAP the kernel faults on the iret by which
  # 32-bit Wine returns from its exception handling. At the host's normal
  # priority: niced, the machine got a seventh of the host beside two busy
  # loops and ran its tests ten times slower than on a quiet host.
  qemu-system-x86_64 -accel tcg,thread=multi -cpu qemu64 -smp "$CPUS" -m "$MEMORY" \
    -nic none -display none -vga none -monitor none -serial "file:$console" -no-reboot \
    -kernel "$machine/vmlinuz" -initrd "$machine/initrd.img" \
    -append "console=ttyS0 root=/dev/vda rw init=/sbin/qv-init panic=-1" \
    -drive "$drive" \
    -virtfs "local,path=$share,mount_tag=qvhost,security_model=none,id=qvhost" \
    >"$share/qemu.log" 2>&1 </dev/null &
  local pid=$! start=$SECONDS booted="" outcome=""
  SHOWN_console=0 SHOWN_job=0
  while kill -0 "$pid" 2>/dev/null; do
    show_new_lines "$share/job.log" job .
    show_new_lines "$console" console '^\[guest\]'
    if [ -z "$booted" ]; then
      if grep -q '^\[guest\] up after' "$console"; then
        booted=$((SECONDS - start))
        say "the machine booted in $booted s"
      elif ((SECONDS - start > BOOT_LIMIT)); then
        outcome="the machine did not boot within $BOOT_LIMIT s"
      fi
    fi
    if [ -z "$outcome" ] && ((SECONDS - start > limit)); then
      outcome="the machine did not finish within $limit s (QV_I686_TIME_LIMIT)"
    fi
    if [ -n "$outcome" ]; then
      kill "$pid" 2>/dev/null
      wait "$pid" 2>/dev/null
      guest_failed "$outcome" "$share"
      return 124
    fi
    sleep 2
  done
  wait "$pid"
  local qemu_status=$?
  show_new_lines "$share/job.log" job .
  show_new_lines "$console" console '^\[guest\]'
  if [ ! -f "$share/job.status" ]; then
    guest_failed "the machine stopped without a result (qemu status $qemu_status)" "$share"
    return 125
  fi
  return "$(cat "$share/job.status")"
}

# show_new_lines <file> <name> <pattern>: prints the file's lines that
# match the pattern and were not shown yet; SHOWN_<name> counts them.
show_new_lines() {
  local file=$1 counter=SHOWN_$2 pattern=$3 total
  [ -f "$file" ] || return 0
  total=$(wc -l <"$file")
  if ((total > ${!counter})); then
    sed -n "$((${!counter} + 1)),${total}p" "$file" | grep -a -- "$pattern" | sed 's/\r$//'
    printf -v "$counter" '%s' "$total"
  fi
}

guest_failed() {
  local why=$1 share=$2 keep
  keep=$CACHE/last-failure
  rm -rf "$keep"
  mkdir -p "$keep"
  cp "$share"/*.log "$keep/" 2>/dev/null
  say "FAILED: $why"
  say "the machine's console (last 40 lines; all of it in $keep/console.log):"
  tail -n 40 "$share/console.log" | sed 's/\r$//; s/^/    /'
  if [ -s "$share/qemu.log" ]; then
    say "qemu said:"
    sed 's/^/    /' "$share/qemu.log" | tail -n 10
  fi
}

# Builds the machine into a temporary folder and renames it into place only
# when it is complete, so a build cut short (a full disk, a failed download,
# Ctrl+C) is never taken for a machine.
build_machine() {
  local key=$1 final=$2 work status
  local free
  free=$(free_mb "$CACHE")
  if ((free < NEEDED_FREE_MB)); then
    say "FAILED: building the emulated machine needs about $NEEDED_FREE_MB MB free in $CACHE; $free MB are"
    return 1
  fi
  work=$(mktemp -d "$CACHE/.building-$key.XXXXXX") || return 1
  say "building the emulated machine $key (debootstrap, packages, image: about ten minutes; logs in $work)"
  local start=$SECONDS
  if ! nice -n 5 bash "$GUEST_SCRIPTS/build-image.sh" "$work"; then
    build_failed "$work" "building the image failed"
    return 1
  fi
  say "creating the 32-bit Wine prefix inside the machine (kept in its image)"
  local share=$work/share
  mkdir -p "$share"
  printf '#!/bin/bash\nexec /usr/local/sbin/qv-prepare\n' >"$share/job.sh"
  : >"$share/job.env"
  run_guest "$work" "$share" "$PREPARE_LIMIT" persist
  status=$?
  if [ "$status" -ne 0 ]; then
    build_failed "$work" "preparing the machine failed (status $status)"
    return 1
  fi
  # The machine powered off after writing everything; a check proves it.
  if ! e2fsck -fp "$work/root.img" >"$work/e2fsck.log" 2>&1; then
    build_failed "$work" "the image's file system is not clean after the first boot ($(tail -n 1 "$work/e2fsck.log"))"
    return 1
  fi
  rm -rf "$share"
  date -u +%FT%TZ >"$work/built"
  mv "$work" "$final" || { build_failed "$work" "could not rename the machine into place"; return 1; }
  say "emulated machine ready in $((SECONDS - start)) s: $final ($(du -sh "$final" | cut -f1) on disk)"
}

build_failed() {
  local work=$1 why=$2 free
  free=$(free_mb "$CACHE")
  if ((free < 200)); then why="$why: the disk holding $CACHE is full ($free MB free)"; fi
  say "FAILED: $why"
  for log in "$work"/*.log; do
    [ -s "$log" ] && { say "$(basename "$log"):"; tail -n 5 "$log" | sed 's/^/    /'; }
  done
  # Nothing half-built stays: the next run starts again from nothing.
  rm -rf --one-file-system "$work"
}

# The machine of the current key, built when missing; older machines (of an
# earlier package list or build script) and builds cut short are removed.
ensure_machine() {
  local key final
  key=$(guest_key)
  final=$CACHE/machine-$key
  exec 8>"$CACHE/lock"
  flock 8
  local old
  for old in "$CACHE"/machine-* "$CACHE"/.building-*; do
    [ -e "$old" ] && [ "$old" != "$final" ] || continue
    say "removing $(basename "$old") (older package list or build scripts, or a build cut short)"
    rm -rf --one-file-system "$old"
  done
  if [ -f "$final/built" ]; then
    say "reusing the emulated machine $key (built $(cat "$final/built"))"
  else
    build_machine "$key" "$final" || { flock -u 8; return 1; }
  fi
  MACHINE=$final
  flock -u 8
}

# The build tree as the machine needs it, at the same paths as here: CTest's
# files, the programs (without their debugging sections, to keep the copy
# small) and the scripts the tests call.
stage_build() {
  local share=$1 stage=$1/stage
  mkdir -p "$stage"
  (
    cd / &&
      find "${BUILD#/}" \( -name wineprefix -o -name lan-wineprefix -o -name CMakeFiles -o -name Testing \) -prune -o \
        \( -name '*.exe' -o -name 'CTestTestfile.cmake' \) -print >"$share/files"
  ) || return 1
  printf '%s\n' "${ROOT#/}/scripts" "${ROOT#/}/tests/lan" "${ROOT#/}/bench" >>"$share/files"
  tar -C / -cf - -T "$share/files" | tar -C "$stage" -xf - || return 1
  find "$stage" -name '*.exe' -exec i686-w64-mingw32-strip --strip-debug {} + || return 1
  tar -C "$stage" -cf "$share/stage.tar" . && rm -rf "$stage"
}

# Run as one function, read whole before it starts: the script can be
# edited while a long run of it goes on.
main() {
  reason=$(unavailable_reason)
  if [ "$mode" = check ]; then
    [ -z "$reason" ] || { echo "$reason"; exit $SKIP; }
    exit 0
  fi
  if [ -n "$reason" ]; then
    say "skipped: $reason"
    exit $SKIP
  fi
  qv_require_machine || exit 1

  total_start=$SECONDS
  ensure_machine || exit 1

  qv_build win32 || exit 1

  SHARE=$(mktemp -d "${TMPDIR:-/tmp}/qv-i686.XXXXXX")
  qv_on_exit 'rm -rf "$SHARE"'
  stage_build "$SHARE" || { say "could not stage the build tree"; exit 1; }
  cp "$GUEST_SCRIPTS/job.sh" "$SHARE/job.sh"
  ctest_args=()
  [ -z "${QV_I686_TESTS:-}" ] || ctest_args+=(-R "$QV_I686_TESTS")
  [ -z "${QV_I686_EXCLUDE:-}" ] || ctest_args+=(-E "$QV_I686_EXCLUDE")
  {
    printf 'QV_JOB=%q\nQV_ROOT=%q\nQV_BUILD=%q\n' "$mode" "$ROOT" "$BUILD"
    printf 'QV_HOST_CALIBRATION_MS=%q\n' "$(bash "$GUEST_SCRIPTS/calibrate.sh")"
    for name in QV_BENCH_MEMORY_RUNS QV_BENCH_WORKERS QV_BENCH_LISTVIEW; do
      [ -z "${!name:-}" ] || printf 'export %s=%q\n' "$name" "${!name}"
    done
    printf 'QV_CTEST_ARGS=('
    for arg in "${ctest_args[@]}"; do printf '%q ' "$arg"; done
    printf ')\n'
  } >"$SHARE/job.env"

  say "running the 32-bit $mode in the emulated machine ($CPUS cores, $MEMORY MB, no network device)"
  run_start=$SECONDS
  run_guest "$MACHINE" "$SHARE" "$TIME_LIMIT" snapshot
  status=$?
  say "the machine's run took $((SECONDS - run_start)) s (all of this script: $((SECONDS - total_start)) s)"
  case $status in
    0) ;;
    124 | 125) exit 1 ;;
    *) guest_failed "the job in the machine ended with status $status" "$SHARE" ;;
  esac
  if [ "$mode" = tests ]; then
    if ! grep -q 'tests passed' "$SHARE/job.log" 2>/dev/null; then
      # A job that failed has been reported, console and all, just above.
      [ "$status" -ne 0 ] || guest_failed "CTest printed no summary" "$SHARE"
      exit 1
    fi
    # Every case's own time in the machine, for reading against its limits.
    if [ -d "$SHARE/gtest" ]; then
      rm -rf "$BUILD/guest-results"
      cp -r "$SHARE/gtest" "$BUILD/guest-results"
      say "each case's time in the machine: $BUILD/guest-results/*.xml"
    fi
    # CTest's summary once more, as the last lines.
    sed -n '/tests passed, /,$p' "$SHARE/job.log"
  fi
  exit "$status"
}

main "$@"; exit $?
