# Sourced by the scripts that run velmo against the simulated module.
# start_nwsim <nwsim> <log> [nwsim options...]: starts the module in the background with its output in
# <log>, sets `sim` to its process id and `port` to the pseudo-terminal it prints on its first line.
start_nwsim() {
  local program=$1 log=$2
  shift 2
  "$program" "$@" >"$log" 2>&1 &
  sim=$!
  port=
  for _ in $(seq 100); do
    port=$(head -n 1 "$log")
    [ -n "$port" ] && return 0
    kill -0 "$sim" 2>/dev/null || break
    sleep 0.05
  done
  echo "nwsim printed no port" >&2
  return 1
}
