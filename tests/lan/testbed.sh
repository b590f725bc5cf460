#!/usr/bin/env bash
# A virtual LAN for the scanner to probe, made of network namespaces.
#
#   scanner namespace: bridge br0 = 10.77.5.1/24, lo; no default route and no
#                      link but the bridge, so nothing it sends can leave.
#   host namespaces:   one per test host, joined to br0 by a veth pair, each
#                      with a fixed locally administered MAC (02:...).
#   one host ignores echo requests (net.ipv4.icmp_echo_ignore_all=1);
#   TESTBED_EXTRA_HOSTS (0 to 100, default 0) more live hosts from
#   10.77.5.100 on, for sweeps that want many; 10.77.5.200 is left unused;
#   with TESTBED_LATE_REPLIER (a program: late_replier <delay ms> <ready
#   file>), 10.77.5.50 answers echoes TESTBED_LATE_MS (default 40) late.
#
# Host names reach the scanner through /etc/netns/<scanner>/hosts, which
# "ip netns exec" bind-mounts over /etc/hosts; a files-only nsswitch.conf
# beside it keeps every name look-up inside the namespace (no DNS query).
#
# The truth file (TESTBED_TRUTH) holds one line per address, fields separated
# by one tab: address, host name or empty, MAC as the scanner writes it
# (02-51-56-05-00-0A) or empty, and "yes" or "no" for whether it answers an
# echo. Lines starting with '#' are comments. The first line is the scanner
# itself; the last is the unused address.
#
# Use, sourced:
#   source tests/lan/testbed.sh
#   testbed_up || exit 1; qv_on_exit testbed_down
#   testbed_exec <command...>           # runs inside the scanner namespace
#   testbed_wine_prepare <template> [program.exe...]
#                                       # a Wine prefix of this run (see below)
#   testbed_wine <program.exe> ...      # Wine inside the scanner namespace
#   testbed_wine_alive                  # is Wine's network service still up?
#   testbed_wine_network_problem        # why it is unusable, if it is
#   testbed_wine_launch <what> <errors> <output> <started> <command...>
#                                       # a run of Wine, tried once more when
#                                       # Wine itself failed to start it
#   testbed_wine_crashes "$TESTBED_LAUNCH_MARK" <program> <output>
#                                       # the Wine processes that crashed since
# or with one host namespace that holds many addresses (the benchmarks):
#   testbed_up_one_host <scanner address> <prefix length> <yes|no> <addresses file>
#   testbed_route_into_nothing <swallowed prefix>   # host 1 becomes a router
# or built from its pieces (a namespace of its own for Wine):
#   testbed_begin; testbed_add_scanner <prefix length>
# or as a command:
#   eval "$(tests/lan/testbed.sh up)"   # prints the TESTBED_* variables
#   tests/lan/testbed.sh down "$TESTBED_DIR"
#
# Every name carries the PID of the shell that built the bed, so parallel
# runs never meet; testbed_down removes everything, whatever state up left.

# shellcheck source=scripts/lib.sh
source "$(dirname "${BASH_SOURCE[0]}")/../../scripts/lib.sh"

TESTBED_NET=10.77.5
TESTBED_SCANNER_ADDRESS=$TESTBED_NET.1
TESTBED_UNUSED_ADDRESS=$TESTBED_NET.200
TESTBED_DOMAIN=qv-lan.test
# The Wine loader of the tested build: QV_WINEARCH=win32 (the 32-bit build in
# the emulated machine) runs a 32-bit prefix with the 32-bit loader.
TESTBED_WINE=$(qv_wine_loader)
TESTBED_WINESERVER=$(qv_wineserver_path)

# address, name (or -), MAC, answers echo. The scanner's own row is the bridge.
testbed_hosts() {
  cat <<EOF
$TESTBED_NET.10 alpha.$TESTBED_DOMAIN 02:51:56:05:00:0a yes
$TESTBED_NET.11 beta.$TESTBED_DOMAIN 02:51:56:05:00:0b yes
$TESTBED_NET.12 - 02:51:56:05:00:0c yes
$TESTBED_NET.13 silent.$TESTBED_DOMAIN 02:51:56:05:00:0d no
EOF
  if [ -n "${TESTBED_LATE_REPLIER:-}" ]; then
    echo "$TESTBED_NET.50 late.$TESTBED_DOMAIN 02:51:56:05:00:32 late"
  fi
  local i
  for ((i = 0; i < ${TESTBED_EXTRA_HOSTS:-0} && i < 100; i++)); do
    printf '%s.%d host%d.%s 02:51:56:05:01:%02x yes\n' "$TESTBED_NET" $((100 + i)) $((100 + i)) "$TESTBED_DOMAIN" "$i"
  done
}
TESTBED_SCANNER_NAME=scanner.$TESTBED_DOMAIN
TESTBED_SCANNER_MAC=02:51:56:05:00:01

testbed_say() { QV_SAY_TAG=testbed QV_SAY_FD=2 say "$@"; }

# A limit of the bed's own waits, in seconds, stretched as the tests' are
# (tests/support/time_limit.h): by the build's factor or the emulated
# machine's measured one, whichever is larger.
testbed_time_limit() {
  local factor=${QV_TEST_TIME_FACTOR:-1} measured=${QV_MACHINE_TIME_FACTOR:-1}
  ((measured > factor)) && factor=$measured
  echo $(($1 * factor))
}

# 02:51:56:05:00:0a -> 02-51-56-05-00-0A, the scanner's MAC text.
testbed_mac_text() {
  local mac=${1//:/-}
  printf '%s' "${mac^^}"
}

testbed_names() {
  TESTBED_ID=${TESTBED_ID:-$$}
  TESTBED_SCANNER_NS=qvlan-$TESTBED_ID-scan
  TESTBED_HOST_NS_PREFIX=qvlan-$TESTBED_ID-host
}

# Says why this machine cannot build the bed, or nothing when it can.
testbed_unavailable_reason() {
  if [ "$(id -u)" -ne 0 ]; then echo "network namespaces need root"; return; fi
  if ! command -v ip >/dev/null; then echo "the ip command (iproute2) is missing"; return; fi
  local probe=qvlan-$$-check
  if ! ip netns add "$probe" 2>/dev/null; then echo "this machine does not allow network namespaces (ip netns add failed)"; return; fi
  ip netns del "$probe"
}

# The same, for a bed that Wine scans from: also says when the tested
# build's Wine loader is missing.
testbed_wine_unavailable_reason() {
  local reason
  reason=$(testbed_unavailable_reason)
  if [ -n "$reason" ]; then echo "$reason"; return; fi
  if [ ! -x "$TESTBED_WINE" ]; then echo "no Wine loader (${QV_WINEARCH:-win64}) is installed"; fi
}

# A host namespace joined to the bridge by a veth pair, its interface eth0
# with the given MAC, not yet addressed or up.
#   testbed_plug_host <index> <MAC>
testbed_plug_host() {
  local index=$1 mac=$2
  local ns=$TESTBED_HOST_NS_PREFIX$index
  ip netns add "$ns" || return 1
  # Both ends are named inside the namespaces, so no name meets the host's.
  ip -n "$TESTBED_SCANNER_NS" link add "port$index" type veth peer name eth0 netns "$ns" || return 1
  ip -n "$TESTBED_SCANNER_NS" link set "port$index" master br0 up || return 1
  ip -n "$ns" link set lo up || return 1
  ip -n "$ns" link set eth0 address "$mac" || return 1
}

testbed_add_host() {
  local index=$1 address=$2 name=$3 mac=$4 echo=$5
  local ns=$TESTBED_HOST_NS_PREFIX$index
  testbed_plug_host "$index" "$mac" || return 1
  ip -n "$ns" addr add "$address/24" dev eth0 || return 1
  ip -n "$ns" link set eth0 up || return 1
  if [ "$echo" != yes ]; then
    ip netns exec "$ns" sysctl -q -w net.ipv4.icmp_echo_ignore_all=1 || return 1
  fi
  if [ "$echo" = late ]; then
    testbed_start_late_replier "$ns" || return 1
    echo=yes
  fi
  if [ "$name" != - ]; then
    printf '%s\t%s\n' "$address" "$name" >>"$TESTBED_ETC/hosts"
  fi
  printf '%s\t%s\t%s\t%s\n' "$address" "${name#-}" "$(testbed_mac_text "$mac")" "$echo" >>"$TESTBED_TRUTH"
}

# The host's kernel ignores echoes; the late replier, a process of the
# namespace (so testbed_down ends it), answers them after its delay.
testbed_start_late_replier() {
  local ns=$1 ready=$TESTBED_DIR/late.ready
  ip netns exec "$ns" "$TESTBED_LATE_REPLIER" "${TESTBED_LATE_MS:-40}" "$ready" >/dev/null 2>&1 </dev/null &
  # testbed_down ends it; the shell need not announce that.
  disown $!
  local deadline=$((SECONDS + $(testbed_time_limit 5)))
  until [ -f "$ready" ]; do
    [ "$SECONDS" -lt "$deadline" ] || { testbed_say "the late replier did not start in $ns"; return 1; }
    sleep 0.1
  done
}

testbed_write_state() {
  local v
  for v in TESTBED_ID TESTBED_DIR TESTBED_TRUTH TESTBED_SCANNER_NS TESTBED_HOST_NS_PREFIX \
    TESTBED_ETC TESTBED_NET TESTBED_SCANNER_ADDRESS TESTBED_UNUSED_ADDRESS TESTBED_DOMAIN; do
    printf 'export %s=%q\n' "$v" "${!v}"
  done >"$TESTBED_DIR/state.env"
}

# Beds whose shell is gone (killed before it could clean up) are removed
# with everything still running in them: all of that was started by a bed.
testbed_remove_stale() {
  local ns id pid
  for ns in $(ip netns list 2>/dev/null | awk '{print $1}' | grep -E '^qvlan-[0-9]+-(scan|host[0-9]+)$'); do
    id=${ns#qvlan-}
    id=${id%%-*}
    [ -d "/proc/$id" ] && continue
    for pid in $(ip netns pids "$ns" 2>/dev/null); do kill -KILL "$pid" 2>/dev/null || true; done
    ip netns del "$ns" 2>/dev/null || true
    rm -rf "/etc/netns/qvlan-$id-scan" "${TMPDIR:-/tmp}"/qvlan-"$id".*
    testbed_say "removed the stale namespace $ns"
  done
}

# The bed's folder, the scanner namespace's /etc files and the truth file's
# first lines; names everything after TESTBED_ID.
testbed_begin() {
  testbed_names
  testbed_remove_stale
  TESTBED_DIR=$(mktemp -d "${TMPDIR:-/tmp}/qvlan-$TESTBED_ID.XXXXXX") || return 1
  TESTBED_TRUTH=$TESTBED_DIR/truth.tsv
  TESTBED_ETC=/etc/netns/$TESTBED_SCANNER_NS
  export TESTBED_ID TESTBED_DIR TESTBED_TRUTH TESTBED_SCANNER_NS TESTBED_HOST_NS_PREFIX TESTBED_ETC \
    TESTBED_NET TESTBED_SCANNER_ADDRESS TESTBED_UNUSED_ADDRESS TESTBED_DOMAIN
  testbed_write_state

  mkdir -p "$TESTBED_ETC" || return 1
  # The machine's own name resolves to the scanner's address, as a machine on
  # this LAN would see it: the scanner's local address is that of the bed.
  printf '127.0.0.1\tlocalhost\n%s\t%s %s\n' "$TESTBED_SCANNER_ADDRESS" "$TESTBED_SCANNER_NAME" "$(hostname)" \
    >"$TESTBED_ETC/hosts"
  printf 'hosts: files\nnetworks: files\n' >"$TESTBED_ETC/nsswitch.conf"
  : >"$TESTBED_ETC/resolv.conf"
  {
    printf '# address\tname\tMAC\tanswers echo\n'
    printf '%s\t%s\t%s\tyes\n' "$TESTBED_SCANNER_ADDRESS" "$TESTBED_SCANNER_NAME" "$(testbed_mac_text "$TESTBED_SCANNER_MAC")"
  } >"$TESTBED_TRUTH"
}

# The scanner namespace: lo and the bridge br0 holding the scanner's address
# with the given prefix length.
testbed_add_scanner() {
  local length=$1
  ip netns add "$TESTBED_SCANNER_NS" || return 1
  ip -n "$TESTBED_SCANNER_NS" link set lo up || return 1
  ip -n "$TESTBED_SCANNER_NS" link add br0 type bridge || return 1
  # A bridge takes the lowest MAC of its ports unless given one.
  ip -n "$TESTBED_SCANNER_NS" link set br0 address "$TESTBED_SCANNER_MAC" || return 1
  ip -n "$TESTBED_SCANNER_NS" addr add "$TESTBED_SCANNER_ADDRESS/$length" dev br0 || return 1
  ip -n "$TESTBED_SCANNER_NS" link set br0 up || return 1
}

testbed_up() {
  testbed_begin || return 1
  testbed_add_scanner 24 || return 1
  local index=0 address name mac echo
  while read -r address name mac echo; do
    index=$((index + 1))
    testbed_add_host "$index" "$address" "$name" "$mac" "$echo" || return 1
  done < <(testbed_hosts)
  printf '%s\t\t\tno\n' "$TESTBED_UNUSED_ADDRESS" >>"$TESTBED_TRUTH"

  testbed_check_isolated || return 1
  testbed_wait_ports_forwarding || return 1
  testbed_say "up: scanner namespace $TESTBED_SCANNER_NS, $index hosts, truth in $TESTBED_TRUTH"
}

# One host namespace that holds many addresses on its one interface, all
# with one MAC and no names: for sweeps of thousands of addresses.
#   testbed_add_many_host <index> <MAC> <answers echo: yes|no> <prefix length> <file of addresses>
testbed_add_many_host() {
  local index=$1 mac=$2 echo=$3 length=$4 list=$5
  local ns=$TESTBED_HOST_NS_PREFIX$index
  testbed_plug_host "$index" "$mac" || return 1
  awk -v len="$length" '{ print "address add " $1 "/" len " dev eth0" }' "$list" >"$TESTBED_DIR/host$index.batch"
  ip -n "$ns" -batch "$TESTBED_DIR/host$index.batch" || return 1
  ip -n "$ns" link set eth0 up || return 1
  if [ "$echo" = no ]; then
    ip netns exec "$ns" sysctl -q -w net.ipv4.icmp_echo_ignore_all=1 || return 1
  fi
  awk -v mac="$(testbed_mac_text "$mac")" -v echo="$echo" '{ printf "%s\t\t%s\t%s\n", $1, mac, echo }' "$list" \
    >>"$TESTBED_TRUTH"
}

# A bed of one host namespace holding many addresses, for sweeps of
# thousands of them: the scanner's address and prefix length, whether the
# host answers echoes, and the file of its addresses.
testbed_up_one_host() {
  local scanner=$1 length=$2 echo=$3 list=$4
  TESTBED_SCANNER_ADDRESS=$scanner
  TESTBED_NET=${scanner%.*}
  testbed_begin || return 1
  testbed_add_scanner "$length" || return 1
  testbed_add_many_host 1 02:51:56:06:00:02 "$echo" "$length" "$list" || return 1
  testbed_check_isolated || return 1
  # The host's link is up once the scanner can reach its first address.
  local first deadline=$((SECONDS + $(testbed_time_limit 10)))
  first=$(head -n 1 "$list")
  until testbed_exec ping -n -q -c 1 -W 0.3 "$first" >/dev/null 2>&1 ||
    testbed_exec ip neigh show "$first" | grep -q lladdr; do
    [ "$SECONDS" -lt "$deadline" ] || { testbed_say "the host namespace did not come up"; return 1; }
    sleep 0.1
  done
  testbed_say "up: $(grep -c . "$list") addresses in one host namespace (answers echo: $echo)"
}

# Host 1 becomes a router that swallows whatever it is sent for the prefix
# (a blackhole route), and the scanner routes the prefix through it: the
# scanner's neighbour table then holds one entry, the router's, instead of
# one per silent address (the machine-wide table, 1,024 entries by default,
# would overflow, and sends would fail at once).
testbed_route_into_nothing() {
  local prefix=$1 router=${TESTBED_HOST_NS_PREFIX}1 gateway
  gateway=$(ip -n "$router" -4 -o addr show dev eth0 | awk '{ sub(/\/.*/, "", $4); print $4; exit }')
  ip netns exec "$router" sysctl -q -w net.ipv4.ip_forward=1 || return 1
  ip -n "$router" route add blackhole "$prefix" || return 1
  testbed_exec ip route add "$prefix" via "$gateway" dev br0 || return 1
  testbed_check_isolated
}

# The guarantee every probe relies on: the scanner namespace has no default
# route, routes only through the bridge and holds no link but lo, the bridge
# and the bridge's own ports.
testbed_check_isolated() {
  local other links
  if [ -n "$(ip -n "$TESTBED_SCANNER_NS" -4 route show default)" ]; then
    testbed_say "scanner namespace has a default route"
    return 1
  fi
  other=$(ip -n "$TESTBED_SCANNER_NS" -4 route show | grep -v ' dev br0 ')
  if [ -n "$other" ]; then
    testbed_say "scanner namespace routes beside the bridge: $other"
    return 1
  fi
  links=$(ip -n "$TESTBED_SCANNER_NS" -o link show | awk -F': ' '{sub(/@.*/, "", $2); print $2}' |
    grep -vxE 'lo|br0|port[0-9]+')
  if [ -n "$links" ]; then
    testbed_say "scanner namespace holds other links: $links"
    return 1
  fi
}

# Waits until the scanner knows every host's MAC (at most 10 s, and 0.2 s
# more a host: a hundred new links on a loaded machine take their time): a
# probe sent before a new link is up would be lost. One ping per host and
# round, all at once; the silent host answers the ARP request that precedes
# it.
testbed_wait_ports_forwarding() {
  local limit address missing pids
  limit=$(testbed_time_limit $((10 + $(testbed_hosts | grep -c .) / 5)))
  local deadline=$((SECONDS + limit))
  while :; do
    missing=""
    while read -r address _; do
      ip -n "$TESTBED_SCANNER_NS" neigh show "$address" dev br0 | grep -q lladdr || missing="$missing $address"
    done < <(testbed_hosts)
    [ -z "$missing" ] && return 0
    if [ "$SECONDS" -ge "$deadline" ]; then
      testbed_say "hosts did not come up within $limit s:$missing"
      return 1
    fi
    pids=()
    for address in $missing; do
      ip netns exec "$TESTBED_SCANNER_NS" ping -n -q -c 1 -W 0.3 "$address" >/dev/null 2>&1 &
      pids+=($!)
    done
    # Only these pings: a caller's own background jobs (Xvfb) run on.
    wait "${pids[@]}"
  done
}

testbed_exec() {
  ip netns exec "$TESTBED_SCANNER_NS" "$@"
}

# Wine sends ICMP from its helper process winedevice.exe, which lives in the
# network namespace where the prefix's wineserver started. So every bed runs
# Wine from a prefix of its own, copied from a prepared template whose
# wineserver is stopped, and starts that wineserver inside the scanner
# namespace. The template is made once (about 15 s) when missing. The
# programs named will open windows: theirs are made ready too.
#   testbed_wine_prepare <template> [program.exe...]
testbed_wine_prepare() {
  local template=$1
  shift
  testbed_wine_copy_template "$template" && testbed_wine_start && testbed_prepare_program_windows "$@" ||
    { testbed_say "Wine did not start in the scanner namespace $TESTBED_SCANNER_NS"; return 1; }
}

testbed_wine_copy_template() {
  local template=$1
  (WINEPREFIX=$template && qv_wine_make_prefix) || return 1
  export WINEPREFIX=$TESTBED_DIR/wineprefix
  # Wine's errors stay on: they tell why its network service went away.
  export WINEDEBUG=${WINEDEBUG:-fixme-all}
  qv_wine_exports
  (
    flock 9
    # The template's contents: in the emulated machine the template is a
    # link to a prefix kept on the machine's disk.
    mkdir -p "$WINEPREFIX" && cp -a "$template/." "$WINEPREFIX" 9>&-
  ) 9>"$template.lock" || return 1
  printf 'export WINEPREFIX=%q\n' "$WINEPREFIX" >>"$TESTBED_DIR/state.env"
}

# Before a program's windows open in the bed: the display must be reachable
# from the scanner namespace, and the programs named get unmanaged windows.
testbed_prepare_program_windows() {
  [ $# -gt 0 ] || return 0
  testbed_exec xdotool getdisplaygeometry >/dev/null 2>&1 ||
    { testbed_say "the display $DISPLAY cannot be reached from the scanner namespace"; return 1; }
  qv_wine_unmanaged_windows testbed_wine "$@"
}

# Starts the prefix's wineserver and services inside the scanner namespace;
# their output (every service's errors and crashes) goes to wine.log. A
# launch that Wine itself fails is said so and tried once more.
testbed_wine_start() {
  testbed_exec "$TESTBED_WINESERVER" -p >/dev/null 2>&1 </dev/null || return 1
  local attempt failure mark
  for attempt in 1 2; do
    mark=$(wc -l 2>/dev/null <"$TESTBED_DIR/wine.log" || echo 0)
    # The services keep this output for good: straight into wine.log.
    testbed_exec "$TESTBED_WINE" cmd /c exit >>"$TESTBED_DIR/wine.log" 2>&1 </dev/null
    failure=$(testbed_wine_launch_failure <(tail -n "+$((mark + 1))" "$TESTBED_DIR/wine.log"))
    [ -n "$failure" ] || break
    testbed_say "Wine failed to start (attempt $attempt of 2): $failure"
    [ "$attempt" -eq 1 ] || return 1
  done
  testbed_wine_alive || { testbed_say "Wine's network service did not start"; return 1; }
}

# A fresh wineserver for the bed's prefix, in the scanner namespace.
testbed_wine_restart() {
  "$TESTBED_WINESERVER" -k >/dev/null 2>&1
  "$TESTBED_WINESERVER" -w >/dev/null 2>&1
  testbed_wine_start
}

testbed_wine() {
  testbed_exec "$TESTBED_WINE" "$@"
}

# "pid name" of every Windows process of this prefix (read from /proc: each
# Wine process carries its prefix in its environment), the name in lower
# case without its folder: winedevice.exe, quorvane.exe.
testbed_wine_processes() {
  local dir name
  for dir in /proc/[0-9]*; do
    # Read by the shell itself: this runs every second while a test runs.
    name=""
    IFS= read -r -d '' name 2>/dev/null <"$dir/cmdline"
    case "${name,,}" in *.exe) ;; *) continue ;; esac
    grep -qxzF "WINEPREFIX=$WINEPREFIX" "$dir/environ" 2>/dev/null || continue
    name=${name##*[\\/]}
    echo "${dir#/proc/} ${name,,}"
  done
}

testbed_winedevice_pids() {
  testbed_wine_processes | awk '$2 == "winedevice.exe" { print $1 }'
}

# Prints a mark in wine.log and notes the prefix's processes now, for
# testbed_wine_crashes.
testbed_wine_mark() {
  testbed_wine_processes >"$TESTBED_DIR/processes.mark"
  wc -l 2>/dev/null <"$TESTBED_DIR/wine.log" || echo 0
}

TESTBED_CRASH_PATTERN='wine: Unhandled|starting debugger|wine: Call from .* to unimplemented'

# Whether a crash line has appeared in the output or in wine.log since the
# mark: cheap enough to be asked every second.
testbed_wine_crash_seen() {
  local mark=$1 output=$2
  grep -qaE "$TESTBED_CRASH_PATTERN" "$output" 2>/dev/null ||
    tail -n "+$((mark + 1))" "$TESTBED_DIR/wine.log" 2>/dev/null | grep -qaE "$TESTBED_CRASH_PATTERN"
}

# The crashes of Wine processes since the mark, one line each:
# "<process>: <Wine's line>". A crash line in the output of the program the
# caller ran is that program's, or, given "-" as its name, that of the
# processes of the prefix gone since the mark (the program shares its output
# with the programs it starts), else the fallback's; one in wine.log is a
# service's, named by the processes gone since the mark.
#   testbed_wine_crashes <mark> <program name | -> <program's output file> [fallback]
testbed_wine_crashes() {
  local mark=$1 program=$2 output=$3 fallback=${4:-a process of the program} line gone owner
  testbed_wine_processes >"$TESTBED_DIR/processes.now"
  gone=$(awk 'NR == FNR { now[$1] = 1; next } !($1 in now) { print $2 }' "$TESTBED_DIR/processes.now" \
    "$TESTBED_DIR/processes.mark" | sort -u | paste -sd, -)
  [ "$program" != - ] || program=${gone:-$fallback}
  {
    grep -aE "$TESTBED_CRASH_PATTERN" "$output" 2>/dev/null | sed "s|^|$program\t|"
    tail -n "+$((mark + 1))" "$TESTBED_DIR/wine.log" 2>/dev/null | grep -aE "$TESTBED_CRASH_PATTERN" |
      sed "s|^|${gone:-a Wine service process}\t|"
  } >"$TESTBED_DIR/crash.lines"
  [ -s "$TESTBED_DIR/crash.lines" ] || return 0
  testbed_wine_threads >"$TESTBED_DIR/threads.now"
  while IFS=$'\t' read -r guess line; do
    owner=$(testbed_wine_thread_owner "$TESTBED_DIR/threads.now" "$line")
    echo "${owner:-$guess}: $line"
  done <"$TESTBED_DIR/crash.lines"
}

# Every Windows thread of the prefix with its process, from Wine's own
# process list ("winedbg --command 'info thread'" only queries the server).
# The only run of winedbg on purpose: hence the overrides without the one
# that disables it.
testbed_wine_threads() {
  WINEDEBUG=-all WINEDLLOVERRIDES="$QV_WINE_NO_INSTALLERS" timeout "$(testbed_time_limit 30)" \
    ip netns exec "$TESTBED_SCANNER_NS" "$TESTBED_WINE" winedbg --command 'info thread' 2>/dev/null </dev/null
}

# The process of the thread a crash line names ("(thread 0068)"), when that
# process still exists: a crashed process can outlive its line for long.
testbed_wine_thread_owner() {
  local threads=$1 line=$2 thread
  thread=$(sed -n 's/.*(thread \([0-9a-fA-F]*\)).*/\1/p' <<<"$line")
  [ -n "$thread" ] || return 0
  awk -v tid="$(printf '%08x' "0x$thread")" '
    /^[0-9a-f]+ / { process = $0; sub(/^[0-9a-f]+ +(\(D\) +)?/, "", process); sub(/.*[\\\/]/, "", process) }
    /^\t/ && $1 == tid { print tolower(process); exit }' "$threads"
}

# Wine's own start failing before any program code ran: prints Wine's line
# when the output shows it, nothing otherwise.
testbed_wine_launch_failure() {
  grep -aE -m 1 'failed to map the shared user data|virtual_alloc_first_teb|could not load ntdll|could not exec|failed to initialize' \
    "$1" 2>/dev/null
}

# Runs a command of Wine in the scanner namespace (a program with its output
# sent to files, or a function that runs one), and once more when Wine itself
# failed to start it: Wine's line among the errors, and no line of the output
# matching the pattern of a program that did start (an empty pattern: no such
# line exists). TESTBED_LAUNCH_MARK is the mark taken before the run that
# counted, for testbed_wine_crashes; TESTBED_LAUNCH_RETRIED is 1 when a
# launch failed; TESTBED_LAUNCH_FAILURE is Wine's failure line of the run
# that counted, if it has one. Returns the command's status.
#   testbed_wine_launch <what> <errors file> <output file> <started pattern> <command...>
testbed_wine_launch() {
  local what=$1 errors=$2 output=$3 started=$4 attempt status failure
  shift 4
  TESTBED_LAUNCH_RETRIED=0
  for attempt in 1 2; do
    TESTBED_LAUNCH_MARK=$(testbed_wine_mark)
    "$@"
    status=$?
    failure=$(testbed_wine_launch_failure "$errors")
    TESTBED_LAUNCH_FAILURE=$failure
    [ -n "$failure" ] || break
    [ -z "$started" ] || ! grep -aq -- "$started" "$output" || break
    TESTBED_LAUNCH_RETRIED=1
    testbed_say "Wine failed to start $what (attempt $attempt of 2): $failure"
  done
  return "$status"
}

# Wine's network service runs in winedevice.exe; when it has exited, every
# echo fails from then on, whatever the program does.
testbed_wine_alive() {
  [ -n "$(testbed_winedevice_pids)" ]
}

# Wine's network service can also stay up but stop answering: then every
# echo waits for ever. One echo by Wine's own ping to the scanner's own
# address tells. Prints why the service is unusable; nothing when it works.
testbed_wine_network_problem() {
  if ! testbed_wine_alive; then
    echo "Wine's network service (winedevice.exe) is gone: every echo fails from then on"
  elif ! timeout "$(testbed_time_limit 15)" ip netns exec "$TESTBED_SCANNER_NS" "$TESTBED_WINE" ping -n 1 -w 1000 \
    "$TESTBED_SCANNER_ADDRESS" >/dev/null 2>&1 </dev/null; then
    echo "Wine's network service (winedevice.exe) is up but no longer completes echoes: every echo waits for ever"
  fi
}

testbed_down() {
  if [ -z "${TESTBED_ID:-}" ]; then return 0; fi
  testbed_names
  if [ -n "${WINEPREFIX:-}" ] && [ -n "${TESTBED_DIR:-}" ] && [ "${WINEPREFIX#"$TESTBED_DIR"/}" != "$WINEPREFIX" ]; then
    WINEPREFIX=$WINEPREFIX "$TESTBED_WINESERVER" -k >/dev/null 2>&1 || true
  fi
  local ns pid
  for ns in $(ip netns list 2>/dev/null | awk '{print $1}' | grep -E "^qvlan-$TESTBED_ID-(scan|host[0-9]+)\$"); do
    # Anything still running in a namespace of this bed was started by it.
    for pid in $(ip netns pids "$ns" 2>/dev/null); do
      kill -KILL "$pid" 2>/dev/null || true
    done
    ip netns del "$ns" 2>/dev/null || true
  done
  if [ -n "${TESTBED_SCANNER_NS:-}" ]; then rm -rf "/etc/netns/$TESTBED_SCANNER_NS"; fi
  if [ -n "${TESTBED_DIR:-}" ] && [ -d "$TESTBED_DIR" ]; then rm -rf "$TESTBED_DIR"; fi
  testbed_say "down: qvlan-$TESTBED_ID removed"
  unset TESTBED_ID TESTBED_DIR
}

if [ "${BASH_SOURCE[0]}" = "$0" ]; then
  set -uo pipefail
  case "${1:-}" in
    up)
      reason=$(testbed_unavailable_reason)
      if [ -n "$reason" ]; then testbed_say "unavailable: $reason"; exit 77; fi
      # The namespaces outlive this command: name them after a lasting id.
      TESTBED_ID=${TESTBED_ID:-$PPID}
      testbed_up || { testbed_down; exit 1; }
      cat "$TESTBED_DIR/state.env"
      ;;
    down)
      state=${2:-${TESTBED_DIR:-}}/state.env
      [ -f "$state" ] || { testbed_say "no test bed state at $state"; exit 1; }
      # shellcheck source=/dev/null
      source "$state"
      testbed_down
      ;;
    *)
      echo "usage: $0 up | down <TESTBED_DIR>" >&2
      exit 2
      ;;
  esac
fi
