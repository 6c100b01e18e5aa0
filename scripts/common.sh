# Shell helpers the scripts share; source it.

# Prints a free UDP port and a free TCP port on loopback, so that a check
# can run beside other servers (CI, a real one on this machine). Both lie
# below the kernel's ephemeral range: no outgoing socket takes them before
# the server binds them.
free_ports() {
  python3 -c 'import random, socket
def free(kind):
    while True:
        port = random.randrange(20000, 32000)
        s = socket.socket(socket.AF_INET, kind)
        try:
            s.bind(("0.0.0.0", port))
            return port
        except OSError:
            pass
        finally:
            s.close()
print(free(socket.SOCK_DGRAM), free(socket.SOCK_STREAM))'
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
