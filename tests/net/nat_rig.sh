# Real NAT routers on one machine, made of network namespaces (sourced by
# nat_case.sh; needs root, iproute2 and iptables).
#
#   public: bridge br0 198.51.100.1/24, plimo-server
#   router a: wan 198.51.100.2 on br0, lan 10.1.0.1/24, MASQUERADE
#   router b: wan 198.51.100.3 on br0, lan 10.2.0.1/24, MASQUERADE
#   client a: 10.1.0.2 behind router a; client b: 10.2.0.2 behind router b
#
# The routers have no route to each other's LAN, so a client's LAN address is
# never reachable from the other side: only what punches through the NATs,
# or the server's relay, connects the two. Nothing leaves the machine.
#
# Names are unique per run, so runs can overlap. rig_cleanup (installed as
# the EXIT trap by rig_create) stops what the rig started and deletes the
# namespaces, also when a check fails half-way.

RIG_SKIP=77
RIG_SERVER_IP=198.51.100.1
RIG_UDP_PORT=47800
# A high port, so the server needs no privilege to listen on it; each
# namespace has its own ports, so no other test can hold it.
RIG_TCP_PORT=18443

rig_prefix="plimonat-$$-$RANDOM"
rig_spaces=()
rig_pids=()
rig_dir=""

rig_skip() {
  echo "SKIPPED: $*"
  exit "$RIG_SKIP"
}

# Skips the test where namespaces and NAT rules cannot be made here.
rig_require() {
  [ "$(id -u)" -eq 0 ] || rig_skip "network namespaces need root (running as uid $(id -u))"
  command -v ip >/dev/null || rig_skip "iproute2 (ip) is not installed"
  command -v iptables >/dev/null || rig_skip "iptables is not installed"
  local probe="$rig_prefix-probe"
  ip netns add "$probe" 2>/dev/null || rig_skip "cannot make a network namespace (ip netns add failed)"
  local ok=1
  ip netns exec "$probe" iptables -t nat -A POSTROUTING -o lo -j MASQUERADE --random-fully 2>/dev/null || ok=0
  ip netns exec "$probe" iptables -A INPUT -i lo -m conntrack --ctstate NEW -j DROP 2>/dev/null || ok=0
  ip -n "$probe" link add br0 type bridge 2>/dev/null || ok=0
  ip netns del "$probe"
  [ "$ok" -eq 1 ] || rig_skip "iptables NAT/conntrack or bridges do not work in a namespace here"
}

rig_ns() { echo "$rig_prefix-$1"; }

# Runs a command inside the named rig namespace (pub, ra, rb, ca, cb).
rig_in() {
  local ns
  ns=$(rig_ns "$1")
  shift
  ip netns exec "$ns" "$@"
}

rig_cleanup() {
  local pid
  for pid in "${rig_pids[@]}"; do kill -TERM "$pid" 2>/dev/null || true; done
  for pid in "${rig_pids[@]}"; do
    for _ in $(seq 50); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
    kill -KILL "$pid" 2>/dev/null || true
    wait "$pid" 2>/dev/null || true
  done
  local ns
  for ns in "${rig_spaces[@]}"; do ip netns del "$ns" 2>/dev/null || true; done
  if [ -n "$rig_dir" ]; then rm -rf "$rig_dir"; fi
}

# One router with its client. $1: a or b; $2: router's public address;
# $3: LAN /24 prefix ("10.1.0"); $4...: extra MASQUERADE options.
rig_router() {
  local side=$1 wan=$2 lan=$3
  shift 3
  local r="r$side" c="c$side"
  ip -n "$(rig_ns $r)" link add wan type veth peer name "to$r" netns "$(rig_ns pub)"
  ip -n "$(rig_ns pub)" link set "to$r" master br0 up
  ip -n "$(rig_ns $r)" addr add "$wan/24" dev wan
  ip -n "$(rig_ns $r)" link set wan up
  ip -n "$(rig_ns $r)" link add lan type veth peer name eth0 netns "$(rig_ns $c)"
  ip -n "$(rig_ns $r)" addr add "$lan.1/24" dev lan
  ip -n "$(rig_ns $r)" link set lan up
  ip -n "$(rig_ns $c)" addr add "$lan.2/24" dev eth0
  ip -n "$(rig_ns $c)" link set eth0 up
  ip -n "$(rig_ns $c)" route add default via "$lan.1"
  rig_in "$r" sysctl -qw net.ipv4.ip_forward=1
  rig_in "$r" iptables -t nat -A POSTROUTING -o wan -j MASQUERADE "$@"
  # As home routers do: a packet arriving unasked is dropped, never taken as
  # a flow to the router itself. Accepting it would create a conntrack entry
  # on the very port the router's own later mapping wants, and MASQUERADE
  # would move that mapping elsewhere, defeating punching even between two
  # easy NATs.
  rig_in "$r" iptables -A INPUT -i wan -m conntrack --ctstate NEW -j DROP
}

# Builds the whole layout. Options for router a's MASQUERADE rule follow.
rig_create() {
  trap rig_cleanup EXIT
  trap 'exit 1' INT TERM
  rig_dir=$(mktemp -d "${TMPDIR:-/tmp}/$rig_prefix-XXXXXX")
  local n
  for n in pub ra rb ca cb; do
    ip netns add "$(rig_ns $n)"
    rig_spaces+=("$(rig_ns $n)")
    ip -n "$(rig_ns $n)" link set lo up
  done
  ip -n "$(rig_ns pub)" link add br0 type bridge
  ip -n "$(rig_ns pub)" addr add "$RIG_SERVER_IP/24" dev br0
  ip -n "$(rig_ns pub)" link set br0 up
  rig_router a 198.51.100.2 10.1.0 "$@"
  rig_router b 198.51.100.3 10.2.0
}

# Blocks client a's UDP towards the server at its router.
rig_block_udp_to_server() {
  rig_in ra iptables -A FORWARD -p udp -d "$RIG_SERVER_IP" -j DROP
}

# Packets the router's FORWARD rule dropped (the UDP block above).
rig_forward_drops() {
  rig_in ra iptables -L FORWARD -v -n -x | awk '$3 == "DROP" { print $1; exit }'
}

# Polls until FILE contains the fixed text, for at most SECONDS.
rig_wait_for() {
  local file=$1 text=$2 seconds=$3
  local end=$((SECONDS + seconds))
  while [ "$SECONDS" -le "$end" ]; do
    grep -qF -- "$text" "$file" 2>/dev/null && return 0
    sleep 0.2
  done
  return 1
}

# Starts plimo-server in the public namespace; sets rig_server_key.
rig_start_server() {
  local program=$1
  local log="$rig_dir/server.log"
  # Started directly (not through rig_in) so that $! is the server itself:
  # ip netns exec replaces itself with the program.
  ip netns exec "$(rig_ns pub)" "$program" --udp-port "$RIG_UDP_PORT" --tcp-ports "$RIG_TCP_PORT" \
    --data "$rig_dir/server" --log "$log" >"$rig_dir/server.out" 2>&1 &
  rig_pids+=($!)
  rig_wait_for "$log" "Listening on UDP" 30 || return 1
  rig_server_key=$(sed -n 's/.*\[Relay\] Key for Plimo\.ini: \([0-9A-Fa-f]\{128\}\).*/\1/p' "$log" | head -n 1)
  [ -n "$rig_server_key" ]
}

# Starts `plimo --headless` in client namespace c$1 with its own home
# ($rig_dir/$1, whose Plimo.ini the caller wrote) and any extra arguments.
# Sets rig_client_pid.
rig_start_client() {
  local side=$1 program=$2
  shift 2
  ip netns exec "$(rig_ns "c$side")" env PLIMO_HOME="$rig_dir/$side" "$program" --headless "$@" \
    >"$rig_dir/$side/stdout.txt" 2>&1 &
  rig_client_pid=$!
  rig_pids+=("$rig_client_pid")
}

# The [Relay] section that points a client at the rig's server.
rig_relay_ini() {
  printf '[Relay]\nHost=%s\nPort=%s\nTcpPort=%s\nKey=%s\n' \
    "$RIG_SERVER_IP" "$RIG_UDP_PORT" "$RIG_TCP_PORT" "$rig_server_key"
}
