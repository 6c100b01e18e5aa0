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

# start_xvfb WIDTHxHEIGHT DIR: starts an X server of that size on a free
# display number, its log and pid in DIR; prints ":N" once it accepts
# connections, nothing when it could not start.
start_xvfb() {
  local size=$1 dir=$2
  Xvfb -displayfd 3 -screen 0 "${size}x24" -nolisten tcp -noreset \
    3>"$dir/display" >"$dir/xvfb.log" 2>&1 &
  echo $! >"$dir/xvfb.pid"
  for _ in $(seq 100); do
    [ -s "$dir/display" ] && break
    sleep 0.1
  done
  if [ -s "$dir/display" ]; then echo ":$(head -n1 "$dir/display")"; fi
}
