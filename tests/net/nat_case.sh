#!/usr/bin/env bash
# One partner session between two `plimo --headless` clients behind real NAT
# routers, with plimo-server on the "public" side (see nat_rig.sh).
#
# Usage: nat_case.sh direct|relayed|tcp PLIMO_SERVER PLIMO NET_PEER
#   direct   two endpoint-independent NATs: the clients punch a direct path
#   relayed  router a maps every destination to a new port (--random-fully):
#            punching cannot work, the session goes through the server
#   tcp      router a drops UDP to the server: client a registers over TCP
#            and the session goes through the server over that link
#
# Client a is the helper (-autoConnect the other's ID), client b the helped
# PC with unattended access. Then two net_peer programs take their places and
# send session data through the same routers and back. Exit 0 passed,
# 1 failed, 77 skipped.
set -uo pipefail

here=$(cd "$(dirname "$0")" && pwd)
# shellcheck source=nat_rig.sh
source "$here/nat_rig.sh"

if [ $# -ne 4 ]; then
  echo "usage: $0 direct|relayed|tcp PLIMO_SERVER PLIMO NET_PEER" >&2
  exit 2
fi
mode=$1 server=$2 plimo=$3 peer=$4

fail() {
  echo "FAILED ($mode): $*"
  if [ -n "$rig_dir" ]; then
    local f
    for f in server.log a/Plimo.log a/stdout.txt b/Plimo.log b/stdout.txt peer_a.txt peer_b.txt; do
      [ -f "$rig_dir/$f" ] && { echo "----- $f"; cat "$rig_dir/$f"; }
    done
  fi
  exit 1
}
pass() { echo "ok: $*"; }

# Fails unless FILE shows TEXT within SECONDS.
expect() {
  local file=$1 text=$2 seconds=${3:-0}
  rig_wait_for "$rig_dir/$file" "$text" "$seconds" || fail "$file never showed \"$text\""
  pass "$file: $text"
}
refute() {
  local file=$1 text=$2
  ! grep -qF -- "$text" "$rig_dir/$file" || fail "$file shows \"$text\""
}

# "123 456 789" for an ID.
spaced() { echo "${1:0:3} ${1:3:3} ${1:6:3}"; }

# Waits for the ID a client prints on standard output once registered:
# a line of 9 digits in FILE, after PREFIX.
registered_id() {
  local file=$1 prefix=$2 seconds=$3 id=""
  local end=$((SECONDS + seconds))
  while [ "$SECONDS" -le "$end" ]; do
    id=$(sed -n "s/^$prefix\([0-9]\{9\}\)\$/\1/p" "$rig_dir/$file" 2>/dev/null | tail -n 1)
    [ -n "$id" ] && { echo "$id"; return 0; }
    sleep 0.2
  done
  return 1
}

# The check number of the first link line in a log.
check_number() {
  sed -n 's/.*link .*Check number \([0-9]\{3\} [0-9]\{3\}\)$/\1/p' "$rig_dir/$1" | head -n 1
}

# The path each side locked to, as this case wants it, and the same check
# number on both. $1, $2: the logs of a and b.
expect_link() {
  local a=$1 b=$2
  case $mode in
    direct)
      # Each side locks to the other router's public mapping.
      expect "$a" "Direct encrypted link to 198.51.100.3:" 30
      expect "$b" "Direct encrypted link to 198.51.100.2:" 30
      ;;
    relayed)
      # A direct attempt was made first, and failed at the NAT.
      expect "$a" " is at 198.51.100.3:" 10
      expect "$a" "Encrypted link to the other PC through the server" 30
      expect "$b" "Encrypted link to the other PC through the server" 30
      refute "$a" "Direct encrypted link"
      refute "$b" "Direct encrypted link"
      ;;
    tcp)
      expect "$a" "one of us is on the TCP fallback, so the session goes through the server" 30
      expect "$b" "one of us is on the TCP fallback, so the session goes through the server" 30
      expect "$a" "Encrypted link to the other PC through the server" 30
      expect "$b" "Encrypted link to the other PC through the server" 30
      refute "$a" "over UDP $RIG_UDP_PORT"
      ;;
  esac
  local check_a check_b
  check_a=$(check_number "$a")
  check_b=$(check_number "$b")
  [ -n "$check_a" ] || fail "$a shows no check number"
  [ "$check_a" = "$check_b" ] || fail "check numbers differ: $a $check_a, $b $check_b"
  pass "both show check number $check_a"
}

# SIGTERM to a client and its exit status (as the shell reports it).
stop_client() {
  local pid=$1
  kill -TERM "$pid" 2>/dev/null
  wait "$pid"
}

[ -x "$server" ] || fail "plimo-server is not built ($server)"
[ -x "$plimo" ] || fail "plimo is not built ($plimo)"
[ -x "$peer" ] || fail "net_peer is not built ($peer)"
rig_require

case $mode in
  direct) rig_create ;;
  relayed) rig_create --random-fully ;;
  tcp)
    rig_create
    rig_block_udp_to_server
    ;;
  *) fail "unknown case $mode" ;;
esac

rig_start_server "$server" || fail "plimo-server did not start in the public namespace"
mkdir -p "$rig_dir/a" "$rig_dir/b"

# --- registration, each through its own NAT ---------------------------------

{ rig_relay_ini; printf '[Session]\nUnattended=1\n'; } >"$rig_dir/b/Plimo.ini"
rig_start_client b "$plimo"
pid_b=$rig_client_pid
id_b=$(registered_id b/stdout.txt "" 40) || fail "client b did not register"
expect b/Plimo.log "My ID is $(spaced "$id_b")"
expect b/Plimo.log "over UDP $RIG_UDP_PORT"
# The server sees the router's public address, not the client's LAN one.
expect server.log "ID $id_b online from 198.51.100.3:"

# Client a keeps its ID with a secret, so that the company can trust it with
# the unattended PC; it registers once, then connects at its next start.
{ rig_relay_ini; printf '[ID]\nSecret=%s\n' "$(od -An -N32 -tx1 /dev/urandom | tr -d ' \n')"; } >"$rig_dir/a/Plimo.ini"
rig_start_client a "$plimo"
pid_a=$rig_client_pid
# Three unanswered UDP handshakes 2 s apart come before TCP is tried.
id_a=$(registered_id a/stdout.txt "" 60) || fail "client a did not register"
expect a/Plimo.log "My ID is $(spaced "$id_a")"
if [ "$mode" = tcp ]; then
  expect a/Plimo.log "No answer from the server on UDP $RIG_UDP_PORT; trying TCP $RIG_TCP_PORT"
  expect a/Plimo.log "Secure connection to the server (AES-256-GCM) over TCP $RIG_TCP_PORT"
  refute a/Plimo.log "over UDP $RIG_UDP_PORT"
  grep -qE "ID $id_a online from 198\.51\.100\.2:[0-9]+ \(TCP\)" "$rig_dir/server.log" ||
    fail "the server did not register a over TCP from router a"
  pass "server: ID $id_a online from router a over TCP"
  drops=$(rig_forward_drops)
  [ "${drops:-0}" -gt 0 ] || fail "router a never dropped UDP to the server (the block did not apply)"
  pass "router a dropped $drops UDP packet(s) to the server"
else
  expect a/Plimo.log "over UDP $RIG_UDP_PORT"
  expect server.log "ID $id_a online from 198.51.100.2:"
fi
expect a/Plimo.log "ID $(spaced "$id_a") is pinned" 20
stop_client "$pid_a" || fail "client a exited with status $?"
"$server" --data "$rig_dir/server" --log "$rig_dir/server.log" --trust-helper "$id_a" >/dev/null ||
  fail "plimo-server --trust-helper $id_a failed"
# With an X display the helped PC shares it, and the helper saves the first
# picture that crossed the routers.
rig_start_client a "$plimo" -autoConnect "$id_b" ${DISPLAY:+-dumpPicture "$rig_dir/a/picture.png"}
pid_a=$rig_client_pid

# --- the partner session -----------------------------------------------------

# Over TCP the unanswered UDP handshakes come first (about 10 s).
expect a/Plimo.log "Asking server for $(spaced "$id_b")" 40

expect_link a/Plimo.log b/Plimo.log

expect server.log "Session $id_a helps $id_b" 10

# Each side's greeting crosses the link the other way.
expect a/Plimo.log "Partner says: Hello from $(spaced "$id_b")" 10
expect b/Plimo.log "Partner says: Hello from $(spaced "$id_a")" 10

if [ -n "${DISPLAY:-}" ]; then
  expect a/Plimo.log "Picture saved to $rig_dir/a/picture.png" 30
  [ "$(head -c 4 "$rig_dir/a/picture.png" | tail -c 3)" = PNG ] || fail "the saved picture is no PNG"
  pass "the helped PC's screen reached the helper as a picture"
fi

# --- the end -----------------------------------------------------------------

stop_client "$pid_a" || fail "client a exited with status $?"
expect b/Plimo.log "Partner disconnected" 10
expect server.log "Session $id_a helps $id_b ended after" 10
stop_client "$pid_b" || fail "client b exited with status $?"
pass "both clients ended cleanly"

# --- session data, through the same routers ----------------------------------

ip netns exec "$(rig_ns cb)" "$peer" "$RIG_SERVER_IP" "$RIG_UDP_PORT" "$RIG_TCP_PORT" "$rig_server_key" \
  >"$rig_dir/peer_b.txt" 2>&1 &
rig_pids+=($!)
peer_id_b=$(registered_id peer_b.txt "ID " 40) || fail "the echoing peer did not register"
# Its own give-up (60 s after registering) ends it; timeout only guards a
# registration that never comes.
timeout 120 ip netns exec "$(rig_ns ca)" "$peer" "$RIG_SERVER_IP" "$RIG_UDP_PORT" "$RIG_TCP_PORT" \
  "$rig_server_key" "$peer_id_b" >"$rig_dir/peer_a.txt" 2>&1
status=$?
expect_link peer_a.txt peer_b.txt
[ "$status" -eq 0 ] || fail "the sending net_peer ended with status $status"
grep -qF "came back intact, 0 changed" "$rig_dir/peer_a.txt" || fail "session data came back changed"
pass "$(grep -F "Session data:" "$rig_dir/peer_a.txt")"
