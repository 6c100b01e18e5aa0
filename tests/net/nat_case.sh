#!/usr/bin/env bash
# One partner session between two `plimo --headless` clients behind real NAT
# routers, with plimo-server on the "public" side (see nat_rig.sh).
#
# Usage: nat_case.sh direct|relayed|tcp PLIMO_SERVER PLIMO
#   direct   two endpoint-independent NATs: the clients punch a direct path
#   relayed  router a maps every destination to a new port (--random-fully):
#            punching cannot work, the session goes through the server
#   tcp      router a drops UDP to the server: client a registers over TCP
#            and the session goes through the server over that link
#
# Client a is the helper (-autoConnect the other's ID), client b the helped
# PC with unattended access. Exit 0 passed, 1 failed, 77 skipped.
set -uo pipefail

here=$(cd "$(dirname "$0")" && pwd)
# shellcheck source=nat_rig.sh
source "$here/nat_rig.sh"

if [ $# -ne 3 ]; then
  echo "usage: $0 direct|relayed|tcp PLIMO_SERVER PLIMO" >&2
  exit 2
fi
mode=$1 server=$2 plimo=$3

fail() {
  echo "FAILED ($mode): $*"
  if [ -n "$rig_dir" ]; then
    local f
    for f in server.log a/Plimo.log a/stdout.txt b/Plimo.log b/stdout.txt; do
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

# Waits for the ID a client prints on standard output once registered.
registered_id() {
  local side=$1 seconds=$2 id=""
  local end=$((SECONDS + seconds))
  while [ "$SECONDS" -le "$end" ]; do
    id=$(grep -E '^[0-9]{9}$' "$rig_dir/$side/stdout.txt" 2>/dev/null | tail -n 1)
    [ -n "$id" ] && { echo "$id"; return 0; }
    sleep 0.2
  done
  return 1
}

# The check number of the first link line in a client's log.
check_number() {
  sed -n 's/.*link .*Check number \([0-9]\{3\} [0-9]\{3\}\)$/\1/p' "$rig_dir/$1/Plimo.log" | head -n 1
}

# SIGTERM to a client and its exit status (as the shell reports it).
stop_client() {
  local pid=$1
  kill -TERM "$pid" 2>/dev/null
  wait "$pid"
}

[ -x "$server" ] || fail "plimo-server is not built ($server)"
[ -x "$plimo" ] || fail "plimo is not built ($plimo)"
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
id_b=$(registered_id b 40) || fail "client b did not register"
expect b/Plimo.log "My ID is $(spaced "$id_b")"
expect b/Plimo.log "over UDP $RIG_UDP_PORT"
# The server sees the router's public address, not the client's LAN one.
expect server.log "ID $id_b online from 198.51.100.3:"

rig_relay_ini >"$rig_dir/a/Plimo.ini"
rig_start_client a "$plimo" -autoConnect "$id_b"
pid_a=$rig_client_pid
# Three unanswered UDP handshakes 2 s apart come before TCP is tried.
id_a=$(registered_id a 60) || fail "client a did not register"
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

# --- the partner session -----------------------------------------------------

if ! rig_wait_for "$rig_dir/a/Plimo.log" "Asking server for $(spaced "$id_b")" 10; then
  rig_skip "both clients registered through their NATs; the client does not connect to a partner yet" \
    "(-autoConnect asked nothing of the server), so the session checks did not run"
fi
pass "a asked the server for b"

case $mode in
  direct)
    # Each side locks to the other router's public mapping.
    expect a/Plimo.log "Direct encrypted link to 198.51.100.3:" 30
    expect b/Plimo.log "Direct encrypted link to 198.51.100.2:" 30
    ;;
  relayed)
    # A direct attempt was made first, and failed at the NAT.
    expect a/Plimo.log "$(spaced "$id_b") is at 198.51.100.3:"
    expect a/Plimo.log "Encrypted link to the other PC through the server" 30
    expect b/Plimo.log "Encrypted link to the other PC through the server" 30
    refute a/Plimo.log "Direct encrypted link"
    refute b/Plimo.log "Direct encrypted link"
    ;;
  tcp)
    expect a/Plimo.log "one of us is on the TCP fallback, so the session goes through the server" 30
    expect b/Plimo.log "one of us is on the TCP fallback, so the session goes through the server" 30
    expect a/Plimo.log "Encrypted link to the other PC through the server" 30
    expect b/Plimo.log "Encrypted link to the other PC through the server" 30
    refute a/Plimo.log "over UDP $RIG_UDP_PORT"
    ;;
esac

check_a=$(check_number a)
check_b=$(check_number b)
[ -n "$check_a" ] || fail "a logged no check number"
[ "$check_a" = "$check_b" ] || fail "check numbers differ: a $check_a, b $check_b"
pass "both show check number $check_a"

expect server.log "Session $id_a helps $id_b" 10

# Each side's greeting crosses the link the other way.
expect a/Plimo.log "Partner says: Hello from $(spaced "$id_b")" 10
expect b/Plimo.log "Partner says: Hello from $(spaced "$id_a")" 10

# TODO(session data): a headless helper has no way yet to send session data
# (bytes 0x80 and up) to the partner; this check waits for one.
echo "WAITING: session data one way and back is not checked: a headless client cannot send session data yet"

# --- the end -----------------------------------------------------------------

stop_client "$pid_a" || fail "client a exited with status $?"
expect b/Plimo.log "Partner disconnected" 10
expect server.log "Session $id_a helps $id_b ended after" 10
stop_client "$pid_b" || fail "client b exited with status $?"
pass "both clients ended cleanly"
