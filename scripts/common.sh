# Shell helpers the scripts share; source it.

# Prints a free UDP port and a free TCP port on loopback, so that a check
# can run beside other servers (CI, a real one on this machine).
free_ports() {
  python3 -c 'import socket
u = socket.socket(socket.AF_INET, socket.SOCK_DGRAM); u.bind(("127.0.0.1", 0))
t = socket.socket(); t.bind(("127.0.0.1", 0))
print(u.getsockname()[1], t.getsockname()[1])'
}

# within SECONDS COMMAND...: gives up after SECONDS unless COMMAND passes first.
within() {
  local seconds=$1; shift
  local deadline=$((SECONDS + seconds))
  until "$@"; do
    [ "$SECONDS" -lt "$deadline" ] || return 1
    sleep 0.2
  done
}
