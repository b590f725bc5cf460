#!/usr/bin/env bash
# The scan benchmarks: the real program (the 64-bit build, under Wine)
# scanning virtual LANs made of network namespaces, each run driven from
# outside its process by scan_bench.exe, and a summary table at the end.
#
#   sweep   10.77.5.1-254 of the tests' LAN (plus SWEEP_EXTRA_HOSTS live
#           hosts, default 30), 100 workers, 100 ms time-out; recall, the
#           pause between worker starts seen on the wire, and the same range
#           swept by fping and by nmap from the scanner namespace
#   scale   10.78.0.0/20: 4,096 addresses, 2,000 of them held by one host
#           namespace that answers on all; 256 workers, 100 ms time-out;
#           the window's answer time to WM_NULL every 20 ms meanwhile; then
#           the UI thread's time for recording 2,000 rows, in the window alone
#   wide    10.80.0.0/21: 2,048 addresses, 1,000 of them held by one host
#           namespace that answers on all; 1,024 workers, 100 ms time-out:
#           every answering host must be found
#   memory  10.79.0.0/21: 2,048 addresses behind a router that answers
#           nothing for them; 1,024 workers, 3,000 ms time-out, then
#           12,000 ms (the time-out at which 1,024 workers are alive at once);
#           then the scan engine alone with a probe that only waits, which
#           shows whether all 1,024 workers start (Wine fails pending echoes
#           beyond about 256, so the real program's workers end early);
#           each time-out also with 停止 once 1,024 workers have started (or
#           after 11 s) and 开始 again at once
#
#   bench/run_scan_benchmarks.sh [sweep] [scale] [wide] [memory]  (default: all)
#
# QV_BENCH_MEMORY_RUNS picks memory's runs of the real program (default:
# "memory memory_restart_3000 memory_full memory_restart"), QV_BENCH_WORKERS=0
# leaves out its runs of the engine alone: the emulated machine has no time
# for them all.
#
# QV_BENCH_BUILD names a build tree that is already built (the 32-bit one in
# the emulated machine of scripts/test-i686.sh): nothing is built or
# installed then, and the sweep, which needs a C compiler, fping and nmap,
# cannot run.
#
# A crashed Wine process is reported as a crash, by name; a launch that Wine
# itself fails is said so and tried once more. Needs root. Every probe stays
# inside the namespaces built here; everything is removed afterwards, also on
# failure.
set -uo pipefail
ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$ROOT"
# shellcheck source=tests/lan/testbed.sh
source tests/lan/testbed.sh
QV_SAY_TAG=bench

BUILD_TREE=${QV_BENCH_BUILD:-$ROOT/build/win64}
PROGRAM=$BUILD_TREE/src/app/quorvane.exe
BENCH=$BUILD_TREE/bench/scan_bench.exe
WORKER_BENCH=$BUILD_TREE/bench/worker_bench.exe
RECORD_BENCH=$BUILD_TREE/bench/record_bench.exe
TEMPLATE=$BUILD_TREE/lan-wineprefix
SWEEP_EXTRA_HOSTS=${SWEEP_EXTRA_HOSTS:-30}

reason=$(testbed_unavailable_reason)
if [ -n "$reason" ]; then
  say "cannot build virtual LANs: $reason"
  exit 77  # as every script of the test bed says "cannot run here"
fi
WORK=$(mktemp -d)
if [ -z "${QV_BENCH_BUILD:-}" ]; then
  qv_require_machine || exit 1
  qv_build win64 quorvane scan_bench worker_bench record_bench || exit 1
  cc -O2 -Wall -o "$WORK/probe_spacing" bench/probe_spacing.c || exit 1
fi

CAPTURE_PID=""
NEIGHBOUR_LIMITS_SAVED=""
cleanup() {
  if [ -n "$CAPTURE_PID" ]; then kill "$CAPTURE_PID" 2>/dev/null; wait "$CAPTURE_PID" 2>/dev/null; fi
  testbed_down
  restore_neighbour_limits
  qv_display_stop
  rm -rf "$WORK"
}
qv_on_exit cleanup

unset DISPLAY
qv_display_start || exit 1

# CPU seconds (user + system) used so far by Wine's server, its device
# service (where the echoes are sent) and the X server: besides the program
# itself, the processes a scan keeps busy.
helper_cpu() {
  local pid name
  for pid in $(ip netns pids "$TESTBED_SCANNER_NS" 2>/dev/null) ${QV_XVFB_PID:-}; do
    name=$(tr '\0' '\n' 2>/dev/null <"/proc/$pid/cmdline" | head -n 1)
    case "$name" in
      *wineserver*) name=wineserver ;;
      *winedevice.exe) name=winedevice ;;
      Xvfb) name=xvfb ;;
      *) continue ;;
    esac
    awk -v n="$name" '{ print n, ($14 + $15) / 100 }' "/proc/$pid/stat" 2>/dev/null
  done | awk '{ cpu[$1] += $2 } END { for (n in cpu) print n, cpu[n] }' | sort
}

# The kernel's neighbour table is one for all namespaces, 1,024 entries by
# default (gc_thresh3): a scan that outgrows it loses sends, and the kernel
# says so. (Its messages are rate-limited: a count above 0 is what matters.)
neighbour_overflows() {
  dmesg 2>/dev/null | grep -c 'neighbor table overflow'
}

# The scale run leaves an entry for each of its 4,096 on-link addresses, so
# the machine-wide limits are raised for it (only the init namespace can)
# and put back when the benchmarks end.
raise_neighbour_limits() {
  local key=net.ipv4.neigh.default.gc_thresh
  [ -n "$NEIGHBOUR_LIMITS_SAVED" ] ||
    NEIGHBOUR_LIMITS_SAVED="$(sysctl -n "${key}2") $(sysctl -n "${key}3")" || return 1
  sysctl -q -w "${key}2=8192" "${key}3=16384"
}
restore_neighbour_limits() {
  [ -n "$NEIGHBOUR_LIMITS_SAVED" ] || return 0
  local key=net.ipv4.neigh.default.gc_thresh soft hard
  read -r soft hard <<<"$NEIGHBOUR_LIMITS_SAVED"
  sysctl -q -w "${key}2=$soft" "${key}3=$hard"
  NEIGHBOUR_LIMITS_SAVED=""
}

# drive <output> <errors> <scan_bench arguments after the program...>
drive() {
  local out=$1 err=$2
  shift 2
  testbed_wine "$BENCH" "$(qv_windows_path "$PROGRAM")" "$@" >"$out" 2>"$err" </dev/null
}

# run_bench <name> <scanner address> <first> <last> <workers> <time-out> [options]
# The figures land in $WORK/<name>.out as key=value lines.
run_bench() {
  local name=$1
  shift
  say "$name: scanning $2 to $3 with $4 workers and a $5 ms time-out"
  helper_cpu >"$WORK/$name.cpu-before"
  local overflows
  overflows=$(neighbour_overflows)
  local status
  testbed_wine_launch "the $name driver" "$WORK/$name.err" "$WORK/$name.out" . \
    drive "$WORK/$name.out" "$WORK/$name.err" "$@"
  status=$?
  local crashes
  crashes=$(testbed_wine_crashes "$TESTBED_LAUNCH_MARK" "quorvane.exe or scan_bench.exe" "$WORK/$name.err")
  if [ -n "$crashes" ]; then
    sed "s/^/[bench] $name: crash: /" <<<"$crashes"
    return 1
  fi
  helper_cpu | join "$WORK/$name.cpu-before" - |
    awk '{ printf "%s_cpu_ms=%.0f\n", $1, ($3 - $2) * 1000 }' >>"$WORK/$name.out"
  echo "neighbour_overflows=$(($(neighbour_overflows) - overflows))" >>"$WORK/$name.out"
  if [ "$status" -ne 0 ]; then
    say "$name failed (status $status):"
    grep -av '^wine:\|fixme' "$WORK/$name.err" | tail -n 5 | iconv -f GBK -t UTF-8 -c
    local problem
    problem=$(testbed_wine_network_problem)
    [ -z "$problem" ] || { say "$problem"; WINE_FAILED=1; }
    grep -a '^[0-9a-f]*:err:' "$WORK/$name.err" "$TESTBED_DIR/wine.log" 2>/dev/null | sort | uniq -c | tail -n 5
    return 1
  fi
  # The status text is GBK, as the window holds it.
  iconv -f GBK -t UTF-8 "$WORK/$name.out" | sed 's/^/         /'
}

figure() { sed -n "s/^$2=//p" "$WORK/$1.out" 2>/dev/null | head -n 1; }

# One line per worker start as the wire saw it: the spacing of the first
# packets towards consecutive addresses of the range.
spacing_figures() {
  local scanner=$1
  grep -v "^$scanner " "$WORK/spacing.txt" | sort -k2,2n |
    awk 'NR > 1 { printf "%.3f\n", ($2 - last) / 1000 } { last = $2 }' | sort -n | awk '
    { gaps[++n] = $1; sum += $1 }
    END {
      if (n == 0) { print "pause_count=0"; exit }
      printf "pause_count=%d\npause_median_ms=%.2f\npause_mean_ms=%.2f\npause_p10_ms=%.2f\npause_p90_ms=%.2f\n",
        n, gaps[int((n + 1) / 2)], sum / n, gaps[int(n * 0.1) + 1], gaps[int(n * 0.9)]
    }' >>"$WORK/sweep.out"
}

# timed <output file> <command...>: runs the command with its output in the
# file and prints how long it took, in milliseconds.
timed() {
  local out=$1 start
  shift
  start=$(qv_now)
  "$@" >"$out" 2>&1 </dev/null
  awk -v a="$start" -v b="$(qv_now)" 'BEGIN { printf "%.0f", (b - a) * 1000 }'
}

sweep() {
  say "sweep: building the tests' virtual LAN with $SWEEP_EXTRA_HOSTS more live hosts"
  TESTBED_EXTRA_HOSTS=$SWEEP_EXTRA_HOSTS testbed_up || return 1
  testbed_wine_prepare "$TEMPLATE" quorvane.exe || return 1
  rm -f "$WORK/listening"
  # Not through a shell function: $! must be the watcher itself.
  ip netns exec "$TESTBED_SCANNER_NS" "$WORK/probe_spacing" br0 "$TESTBED_SCANNER_ADDRESS" "$WORK/listening" \
    >"$WORK/spacing.txt" &
  CAPTURE_PID=$!
  for _ in $(seq 50); do [ -f "$WORK/listening" ] && break; sleep 0.1; done
  run_bench sweep "$TESTBED_SCANNER_ADDRESS" "$TESTBED_NET.1" "$TESTBED_NET.254" 100 100 \
    --truth "$(qv_windows_path "$TESTBED_TRUTH")"
  local status=$?
  kill "$CAPTURE_PID" 2>/dev/null
  wait "$CAPTURE_PID" 2>/dev/null
  CAPTURE_PID=""
  [ "$status" -eq 0 ] || return 1
  spacing_figures "$TESTBED_SCANNER_ADDRESS"

  local ms found
  ms=$(timed "$WORK/fping.txt" testbed_exec fping -a -g "$TESTBED_NET.1" "$TESTBED_NET.254")
  found=$(grep -c '^[0-9.]*$' "$WORK/fping.txt")
  printf 'fping_ms=%s\nfping_hosts=%s\n' "$ms" "$found" >>"$WORK/sweep.out"
  ms=$(timed "$WORK/nmap.txt" testbed_exec nmap -sn "$TESTBED_NET.1-254")
  found=$(sed -n 's/.*(\([0-9]*\) hosts\? up).*/\1/p' "$WORK/nmap.txt")
  printf 'nmap_ms=%s\nnmap_hosts=%s\n' "$ms" "$found" >>"$WORK/sweep.out"
  grep '^pause_\|^fping_\|^nmap_' "$WORK/sweep.out" | sed 's/^/         /'
  testbed_down
}

# Addresses of the /20 10.78.0.0: count of them spread evenly over offsets
# 2 to 4094 (not the network, the scanner at .0.1 or the broadcast).
spread_addresses() {
  awk -v count="$1" -v base="$2" 'BEGIN {
    for (k = 0; k < count; k++) {
      o = 2 + int(k * 4093 / count)
      printf "%s.%d.%d\n", base, int(o / 256), o % 256
    }
  }'
}

scale() {
  say "scale: building a /20 whose one host namespace answers on 2,000 of its 4,096 addresses"
  spread_addresses 2000 10.78 >"$WORK/scale.addresses"
  raise_neighbour_limits || { say "cannot raise the kernel's neighbour-table limits"; return 1; }
  testbed_up_one_host 10.78.0.1 20 yes "$WORK/scale.addresses" || return 1
  testbed_wine_prepare "$TEMPLATE" quorvane.exe || return 1
  run_bench scale 10.78.0.1 10.78.0.0 10.78.15.255 256 100 --truth "$(qv_windows_path "$TESTBED_TRUTH")" --ping-ui ||
    return 1
  say "scale: the UI thread's time for recording the 2,000 rows, in the program's window alone"
  testbed_wine "$RECORD_BENCH" 2000 >"$WORK/record.out" 2>"$WORK/record.err" </dev/null ||
    { say "the recording benchmark failed"; return 1; }
  sed 's/^/         /' "$WORK/record.out"
  testbed_down
  restore_neighbour_limits
}

wide() {
  say "wide: building a /21 whose one host namespace answers on 1,000 of its 2,048 addresses"
  awk 'BEGIN { for (k = 0; k < 1000; k++) { o = 2 + int(k * 2045 / 1000); printf "10.80.%d.%d\n", int(o / 256), o % 256 } }' \
    >"$WORK/wide.addresses"
  raise_neighbour_limits || { say "cannot raise the kernel's neighbour-table limits"; return 1; }
  testbed_up_one_host 10.80.0.1 21 yes "$WORK/wide.addresses" || return 1
  testbed_wine_prepare "$TEMPLATE" quorvane.exe || return 1
  run_bench wide 10.80.0.1 10.80.0.0 10.80.7.255 1024 100 --truth "$(qv_windows_path "$TESTBED_TRUTH")" || return 1
  testbed_down
  restore_neighbour_limits
}

# The silent addresses lie behind a router that swallows them, not on the
# link: thousands of on-link silent hosts would overflow the machine-wide
# neighbour table, and sends would fail at once.
memory() {
  say "memory: building a router namespace that swallows everything sent to 10.79.0.0/21"
  echo 10.79.8.2 >"$WORK/router.address"
  testbed_up_one_host 10.79.8.1 24 yes "$WORK/router.address" || return 1
  testbed_route_into_nothing 10.79.0.0/21 || return 1
  testbed_wine_prepare "$TEMPLATE" quorvane.exe || return 1
  local run
  for run in ${QV_BENCH_MEMORY_RUNS:-memory memory_restart_3000 memory_full memory_restart}; do
    memory_run "$run" || return 1
  done
  testbed_down
  [ "${QV_BENCH_WORKERS:-1}" = 0 ] || { workers 3000 3000 && workers 12000 12000 && workers restart --restart 12000; }
}

#   memory_run <name>: one run of the real program on the silent addresses
memory_run() {
  local silent=(10.79.8.1 10.79.0.0 10.79.7.255 1024)
  case $1 in
    memory) run_bench memory "${silent[@]}" 3000 --threads ;;
    # 停止 once 1,024 workers have started and 开始 again at once: the new
    # scan waits for room while the old scan's workers wait out their echoes.
    memory_restart_3000) run_bench memory_restart_3000 "${silent[@]}" 3000 --threads --restart-at-started 1024 ;;
    memory_full) run_bench memory_full "${silent[@]}" 12000 --threads ;;
    # The same behind the old scan's minute-long time-out (Wine's 64-bit
    # service never holds 1,024 echoes, so the stop comes after 11 s).
    memory_restart) run_bench memory_restart "${silent[@]}" 60000 --threads --restart-after 11000 ;;
    *) say "memory: unknown run '$1'"; return 1 ;;
  esac
}

# The scan engine by itself at 1,024 workers, with a probe that waits out
# every time-out and sends nothing: Wine's limit on pending echoes ends the
# real program's workers early, this shows whether every worker can start.
#   workers <name> <worker_bench arguments...>
workers() {
  local name=$1 status
  shift
  say "workers: the scan engine alone, 1,024 workers, 2,048 silent addresses ($*)"
  (
    export WINEPREFIX=$BUILD_TREE/bench-wineprefix
    qv_wine_start
    qv_wine "$WORKER_BENCH" "$@" >"$WORK/workers_$name.out" 2>"$WORK/workers_$name.err" </dev/null
    status=$?
    qv_wine_stop
    exit "$status"
  )
  status=$?
  sed 's/^/         /' "$WORK/workers_$name.out"
  [ "$status" -eq 0 ] || say "workers: not every worker started (status $status)"
  return "$status"
}

summary() {
  printf '\n%-34s %12s %12s %8s  %s\n' "benchmark" "measured" "reference" "ratio" "target"
  row() { printf '%-34s %12s %12s %8s  %s\n' "$@"; }
  ms() { awk -v v="$1" 'BEGIN { if (v == "") print "-"; else printf "%.2f s", v / 1000 }'; }
  ratio() { awk -v a="$1" -v b="$2" 'BEGIN { if (a == "" || b == "" || b == 0) print "-"; else printf "%.2f", a / b }'; }
  if [ -f "$WORK/sweep.out" ]; then
    local wall
    wall=$(figure sweep wall_ms)
    row "sweep 254, 100 workers, 100 ms" "$(ms "$wall")" "$(ms "$(figure sweep floor_ms)")" "$(ratio "$wall" "$(figure sweep floor_ms)")" "floor"
    row "  CPU of wineserver / winedevice" "$(ms "$(figure sweep wineserver_cpu_ms)")" "$(ms "$(figure sweep winedevice_cpu_ms)")" "" "UI thread $(ms "$(figure sweep ui_thread_cpu_ms)"), Xvfb $(ms "$(figure sweep xvfb_cpu_ms)")"
    row "  fping -a -g" "$(ms "$(figure sweep fping_ms)")" "$(ms "$wall")" "$(ratio "$wall" "$(figure sweep fping_ms)")" "scanner / fping"
    row "  nmap -sn" "$(ms "$(figure sweep nmap_ms)")" "$(ms "$wall")" "$(ratio "$wall" "$(figure sweep nmap_ms)")" "scanner / nmap"
    row "  recall" "$(figure sweep recall_percent) %" "100 %" "" "$(figure sweep hosts_found) of $(figure sweep hosts_expected); wrong MACs $(figure sweep wrong_macs), names $(figure sweep wrong_names)"
    row "  pause between worker starts" "$(figure sweep pause_median_ms) ms" "10 ms" "" "median of $(figure sweep pause_count); p10 $(figure sweep pause_p10_ms), p90 $(figure sweep pause_p90_ms), mean $(figure sweep pause_mean_ms)"
  fi
  if [ -f "$WORK/scale.out" ]; then
    local wall floor
    wall=$(figure scale wall_ms)
    floor=$(figure scale floor_ms)
    row "scale 4,096 / 2,000 live, 256 w." "$(ms "$wall")" "$(ms "$floor")" "$(ratio "$wall" "$floor")" "< 1.25"
    row "  UI thread busy (rows, notices)" "$(ms "$(figure scale ui_thread_cpu_ms)")" "" "" "CPU time of the UI thread over the scan"
    row "  recording the 2,000 rows" "$(ms "$(figure record recording_cpu_ms)")" "" "" "$(figure record recording_cpu_per_host_ms) ms a host, in the window alone"
    row "  CPU of wineserver / winedevice" "$(ms "$(figure scale wineserver_cpu_ms)")" "$(ms "$(figure scale winedevice_cpu_ms)")" "" "Xvfb $(ms "$(figure scale xvfb_cpu_ms)"); $(nproc) cores"
    row "  recall" "$(figure scale recall_percent) %" "100 %" "" "$(figure scale hosts_found) of $(figure scale hosts_expected); wrong MACs $(figure scale wrong_macs); neighbour table overflows $(figure scale neighbour_overflows)"
    row "  WM_NULL answer p50 / p99" "$(figure scale ui_p50_ms) ms" "" "" "p99 $(figure scale ui_p99_ms) ms (< 50)"
    row "  WM_NULL answer max" "$(figure scale ui_max_ms) ms" "" "" "< 250; $(figure scale ui_pings) samples"
  fi
  if [ -f "$WORK/wide.out" ]; then
    row "wide 2,048 / 1,000 live, 1,024 w." "$(ms "$(figure wide wall_ms)")" "$(ms "$(figure wide floor_ms)")" \
      "$(ratio "$(figure wide wall_ms)" "$(figure wide floor_ms)")" "floor"
    row "  recall" "$(figure wide recall_percent) %" "100 %" "" "$(figure wide hosts_found) of $(figure wide hosts_expected); wrong MACs $(figure wide wrong_macs); neighbour table overflows $(figure wide neighbour_overflows)"
  fi
  local run said
  for run in memory memory_restart_3000 memory_full memory_restart; do
    [ -f "$WORK/$run.out" ] || continue
    row "$run: 1,024 w., $(figure "$run" timeout_ms) ms" "$(figure "$run" peak_working_set_mb) MB" "" "" "peak working set"
    row "  workers alive at once" "$(figure "$run" workers_started_at_once)" "1024" "" "threads: idle $(figure "$run" threads_idle), peak $(figure "$run" threads_peak); wall $(ms "$(figure "$run" wall_ms)")"
    if [ -n "$(figure "$run" restart_after_ms)" ]; then
      row "  停止 and 开始 after" "$(ms "$(figure "$run" restart_after_ms)")" "" "" "workers started then $(figure "$run" workers_started_at_restart), alive $(figure "$run" workers_alive_at_restart); new scan to its end $(ms "$(figure "$run" second_scan_ms)")"
      row "  idle shown before the end" "$(ms "$(figure "$run" idle_shown_before_end_ms)")" "0.00 s" "" "the new scan's first status part, every 50 ms"
    fi
    row "  message boxes" "$(figure "$run" message_boxes)" "" "" "each read and answered"
    row "  address space idle / peak" "$(figure "$run" address_space_idle_mb) MB" "$(figure "$run" address_space_peak_mb) MB" "" "reserved or committed, as VirtualQuery shows it"
    row "  largest reservable, idle / low" "$(figure "$run" reservable_idle_mb) MB" "$(figure "$run" reservable_low_mb) MB" "" "what is left"
    said=$(figure "$run" message_box | iconv -f GBK -t UTF-8 -c)
    [ -z "$said" ] || row "  the program ended it, saying" "$said" "" "" ""
  done
  for run in workers_3000 workers_12000; do
    [ -f "$WORK/$run.out" ] || continue
    row "engine alone: 1,024 w., $(figure "$run" timeout_ms) ms" "$(figure "$run" workers_alive_at_once)" "$(figure "$run" workers_asked)" "" "alive at once vs asked; started $(figure "$run" workers_started) of $(figure "$run" addresses) addresses"
    row "  peak working set / address space" "$(figure "$run" peak_working_set_mb) MB" "$(figure "$run" address_space_peak_mb) MB" "" "threads peak $(figure "$run" threads_peak); stack per worker $(figure "$run" worker_stack_reservation_kb) KB"
    row "  largest reservable, idle / low" "$(figure "$run" reservable_idle_mb) MB" "$(figure "$run" reservable_low_mb) MB" "" "what is left"
  done
  run=workers_restart
  if [ -f "$WORK/$run.out" ]; then
    row "engine: stop at 1,024, new scan" "$(figure "$run" second_workers_started)" "$(figure "$run" second_addresses)" "" "new scan's addresses that got a worker; alive at once $(figure "$run" workers_alive_at_once)"
    row "  peak address space / threads" "$(figure "$run" address_space_peak_mb) MB" "" "" "threads peak $(figure "$run" threads_peak)"
    row "  largest reservable, idle / low" "$(figure "$run" reservable_idle_mb) MB" "$(figure "$run" reservable_low_mb) MB" "" "what is left"
  fi
}

selected=("$@")
[ ${#selected[@]} -gt 0 ] || selected=(sweep scale wide memory)
failed=0
for run in "${selected[@]}"; do
  case "$run" in
    sweep | scale | wide | memory)
      WINE_FAILED=0
      "$run" && continue
      testbed_down
      # Wine's fault, not the program's: once more on a new bed.
      if [ "$WINE_FAILED" -eq 1 ]; then
        say "$run: Wine's network service failed; running $run once more on a new bed"
        WINE_FAILED=0
        "$run" && continue
        testbed_down
      fi
      failed=1
      ;;
    *) say "unknown benchmark '$run' (sweep, scale, wide, memory)"; failed=1 ;;
  esac
done
summary
exit $failed
