#!/usr/bin/env bash
# The connection test behind real NAT routers (see nat_rig.sh), with a real
# STUN server (coturn) and plimo-server's own STUN answer as the two STUN
# servers, both on the "public" side.
#
# Usage: nat_report.sh easy|symmetric|udpblocked PLIMO_SERVER PLIMO
#   easy        router a is an endpoint-independent NAT: "easy" with the
#               router's address; and the TCP probe's three outcomes: the
#               server's port, a port led to coturn's TCP listener (another
#               program) and a port that refuses
#   symmetric   router a maps every destination to a new port (--random-fully)
#   udpblocked  router a drops all UDP: no STUN answer, the link on TCP; the
#               report comes through -reportTo
# Exit 0 passed, 1 failed, 77 skipped.
set -uo pipefail

here=$(cd "$(dirname "$0")" && pwd)
# shellcheck source=nat_rig.sh
source "$here/nat_rig.sh"

if [ $# -ne 3 ]; then
  echo "usage: $0 easy|symmetric|udpblocked PLIMO_SERVER PLIMO" >&2
  exit 2
fi
mode=$1 server=$2 plimo=$3

STUN_PORT=3478
# The server listens on all three; in the public namespace the second is led
# to coturn and the third refused, so the probe sees each outcome once.
OTHER_PORT=18444
CLOSED_PORT=18445
report=""

fail() {
  echo "FAILED ($mode): $*"
  if [ -n "$rig_dir" ]; then
    local f
    for f in server.log coturn.log a/Plimo.log a/stderr.txt a/report.txt; do
      [ -f "$rig_dir/$f" ] && { echo "----- $f"; cat "$rig_dir/$f"; }
    done
  fi
  exit 1
}
pass() { echo "ok: $*"; }

# Fails unless a line of the report starts with TEXT.
expect_line() {
  local line
  while IFS= read -r line; do
    [ "${line:0:${#1}}" = "$1" ] && { pass "report: $1"; return 0; }
  done <"$report"
  fail "no report line starts \"$1\""
}

[ -x "$server" ] || fail "plimo-server is not built ($server)"
[ -x "$plimo" ] || fail "plimo is not built ($plimo)"
command -v turnserver >/dev/null || rig_skip "coturn (turnserver) is not installed; scripts/install-deps installs it"
rig_require

case $mode in
  easy) rig_create ;;
  symmetric) rig_create --random-fully ;;
  udpblocked)
    rig_create
    rig_in ra iptables -A FORWARD -p udp -j DROP
    ;;
  *) fail "unknown case $mode" ;;
esac

# coturn as a plain STUN server: no TURN relaying, no TLS, no users.
ip netns exec "$(rig_ns pub)" turnserver -n --stun-only --no-cli --no-tls --no-dtls \
  --listening-ip "$RIG_SERVER_IP" --listening-port "$STUN_PORT" --pidfile "$rig_dir/coturn.pid" \
  --simple-log --log-file "$rig_dir/coturn.log" >"$rig_dir/coturn.out" 2>&1 &
rig_pids+=($!)

RIG_TCP_PORT="$RIG_TCP_PORT,$OTHER_PORT,$CLOSED_PORT"
rig_start_server "$server" || fail "plimo-server did not start in the public namespace"
rig_in pub iptables -t nat -A PREROUTING -p tcp --dport "$OTHER_PORT" -j DNAT --to-destination "$RIG_SERVER_IP:$STUN_PORT"
rig_in pub iptables -A INPUT -p tcp --dport "$CLOSED_PORT" -j REJECT --reject-with tcp-reset
for _ in $(seq 50); do
  rig_in pub ss -Htln "sport = :$STUN_PORT" | grep -q . && break
  sleep 0.1
done

mkdir -p "$rig_dir/a"
{ rig_relay_ini; printf '[Diagnostics]\nStunServers=%s:%s,%s:%s\n' \
  "$RIG_SERVER_IP" "$STUN_PORT" "$RIG_SERVER_IP" "$RIG_UDP_PORT"; } >"$rig_dir/a/Plimo.ini"

if [ "$mode" = udpblocked ]; then
  report=$rig_dir/a/report.txt
  ip netns exec "$(rig_ns ca)" env PLIMO_HOME="$rig_dir/a" "$plimo" --headless -reportTo "$report" \
    >"$rig_dir/a/stdout.txt" 2>"$rig_dir/a/stderr.txt" &
  pid=$!
  rig_pids+=("$pid")
  # Three UDP tries 2 s apart, TCP, a second, the server test, three TCP
  # probes (the silent one 8 s) and STUN's 8 s of silence.
  rig_wait_for "$rig_dir/a/Plimo.log" "Connection report written to $report" 60 || fail "no report was written"
  kill -TERM "$pid"
  wait "$pid" || fail "plimo ended with status $?"
  [ "$(grep -c "Connection report written" "$rig_dir/a/Plimo.log")" -eq 1 ] || fail "the report was written more than once"
else
  report=$rig_dir/a/report.txt
  timeout 60 ip netns exec "$(rig_ns ca)" env PLIMO_HOME="$rig_dir/a" "$plimo" --connection-test \
    >"$report" 2>"$rig_dir/a/stderr.txt" || fail "plimo --connection-test ended with status $?"
fi

expect_line "Plimo for Linux - connection report"
expect_line "Server: $RIG_SERVER_IP:$RIG_UDP_PORT -> $RIG_SERVER_IP:$RIG_UDP_PORT"
expect_line "- [OK] The server answers: $RIG_SERVER_IP:$RIG_UDP_PORT answered in "
expect_line "TCP 18443: answers as a Plimo server in "
expect_line "TCP $OTHER_PORT: another program answers ("
expect_line "TCP $CLOSED_PORT: no connection (Connection refused)"
expect_line "- [OK] The TCP fallback works: TCP port 18443 answers as a Plimo server"

case $mode in
  easy)
    expect_line "Secure session: yes over UDP $RIG_UDP_PORT"
    expect_line "NAT: easy NAT (198.51.100.2:"
    expect_line "  $RIG_SERVER_IP:$STUN_PORT sees this PC as 198.51.100.2:"
    expect_line "  $RIG_SERVER_IP:$RIG_UDP_PORT sees this PC as 198.51.100.2:"
    expect_line "- [OK] This network allows direct links: Both test servers see this PC at the same public address and port (198.51.100.2:"
    ;;
  symmetric)
    expect_line "NAT: symmetric NAT (198.51.100.2:"
    first=$(sed -n 's/^NAT: symmetric NAT (\(.*\) \/ \(.*\))$/\1/p' "$report")
    second=$(sed -n 's/^NAT: symmetric NAT (\(.*\) \/ \(.*\))$/\2/p' "$report")
    [ -n "$first" ] && [ "$first" != "$second" ] || fail "the two mappings should differ: $first, $second"
    pass "mappings $first and $second"
    expect_line "- [Attention] This network rarely allows direct links (symmetric NAT): Each destination sees this PC on a different public port ($first, $second)."
    ;;
  udpblocked)
    expect_line "Secure session: yes over TCP 18443"
    expect_line "NAT: unknown (UDP to the internet is blocked here, or STUN is)"
    expect_line "  $RIG_SERVER_IP:$STUN_PORT: no answer"
    expect_line "  $RIG_SERVER_IP:$RIG_UDP_PORT: no answer"
    expect_line "- [Attention] The network type could not be tested: UDP to the internet is blocked here, or STUN is. Sessions from this network then go through the server over TCP."
    ;;
esac
expect_line "- [OK] No connection attempt yet: "
echo "----- report"
cat "$report"
pass "report for $mode"
