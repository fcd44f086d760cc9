# shellcheck shell=bash
# One measured transfer per function, from host 0 to the hosts in RECEIVERS of a lab made with
# scripts/lab-hosts, sourced by scripts/bench-fcast. Each function takes the rate in kbit/s
# ("max" for as fast as the tool goes) and sets:
#   RESULT_TIME      seconds from the sender's start until every receiver holds a verified copy
#                    (empty when a receiver failed or the run hit its time limit)
#   RESULT_SENDER    sender CPU seconds (user + system) until then
#   RESULT_RECEIVER  mean receiver CPU seconds
#   RESULT_RSS       largest receiver resident size, MiB
#   RESULT_NOTE      what went wrong, and the datagrams the receivers' sockets dropped for want
#                    of buffer space (UdpRcvbufErrors) when there were any
# Inputs: SOURCE (the file), SOURCE_SHA, RUN_LIMIT (seconds), RUN (an empty folder per run),
# FCAST_BIN (folder of fcast-send and fcast-recv); for signed transfers, SIGNING_KEY (a PEM
# Ed25519 private key) and TRUSTED_KEY (its public key in base64).

# The receiving hosts; scripts/bench-fcast --receivers changes them.
RECEIVERS=(1 2 3)

# Seconds with six decimals, from bash itself: the waits below start no process while they poll.
now() { echo "$EPOCHREALTIME"; }

# Prints the value of an awk expression with a printf format: calc "%.2f" "1 / 3".
calc() { awk "BEGIN { printf \"$1\", $2 }"; }

# True when the awk condition holds.
holds() { awk "BEGIN { exit !($1) }"; }

# Starts CMD on HOST in the background, measured by time(1), its pid in $RUN/NAME.pid, output in
# $RUN/NAME.log, and the moment it ended in $RUN/NAME.done. Prints the background job's pid.
start_measured() {
  local host=$1 name=$2
  shift 2
  (
    lab_exec "$host" /usr/bin/time -f '%e %U %S %M' -o "$RUN/$name.time" \
      timeout -s KILL "$RUN_LIMIT" sh -c 'echo $$ > "$0"; exec "$@"' "$RUN/$name.pid" "$@" \
      > "$RUN/$name.log" 2>&1
    now > "$RUN/$name.done"
  ) &
  echo $!
}

# Ends a measured program that does not end by itself.
stop_measured() {
  local name=$1 pid
  pid=$(cat "$RUN/$name.pid" 2>/dev/null) && kill -TERM "$pid" 2>/dev/null
  return 0
}

# Waits for the given jobs, at most RUN_LIMIT seconds from |start|; then ends what is left.
wait_jobs() {
  local start=$1 name
  shift
  local names=("$@")
  local deadline=$((${start/./} + (RUN_LIMIT + 5) * 1000000))  # microseconds
  while :; do
    local left=0
    for name in "${names[@]}"; do [ -e "$RUN/$name.done" ] || left=1; done
    [ $left = 0 ] && return 0
    if ((${EPOCHREALTIME/./} > deadline)); then
      for name in "${names[@]}"; do stop_measured "$name"; done
      sleep 1
      return 1
    fi
    sleep 0.05
  done
}

# time(1) writes a line about the signal first when one ended the program.
cpu_of() { tail -n 1 "$RUN/$1.time" 2>/dev/null | awk '{printf "%.2f", $2 + $3}'; }
rss_of() { tail -n 1 "$RUN/$1.time" 2>/dev/null | awk '{printf "%.0f", $4 / 1024}'; }
done_at() { cat "$RUN/$1.done"; }

# UdpRcvbufErrors summed over the receiving hosts; each transfer keeps it as it began in
# OVERRUNS_BEFORE.
rcvbuf_errors() {
  local host total=0
  for host in "${RECEIVERS[@]}"; do
    total=$((total + $(lab_exec "$host" awk '/^Udp: [0-9]/ { print $6 }' /proc/net/snmp)))
  done
  echo "$total"
}

# Fills the RESULT_ variables from the measured files. $1: the sender's name; $2: the time the
# transfer started; $3: how the last receiver's completion time is found ("receivers" or
# "sender"); then the receivers' names and the copies to verify.
collect() {
  local sender=$1 start=$2 finish_by=$3 end=0 name copy i=0 total=0 rss=0 bad=""
  local count=${#RECEIVERS[@]}
  shift 3
  RESULT_NOTE=""
  local names=("${@:1:count}") copies=("${@:count+1:count}")
  for name in "${names[@]}"; do
    total=$(calc "%.2f" "$total + $(cpu_of "$name")")
    [ "$(rss_of "$name")" -gt "$rss" ] && rss=$(rss_of "$name")
  done
  for copy in "${copies[@]}"; do
    [ "$({ sha256sum < "$copy"; } 2> /dev/null | cut -d' ' -f1)" = "$SOURCE_SHA" ] || bad="$bad ${names[$i]}"
    i=$((i + 1))
  done
  if [ "$finish_by" = receivers ]; then
    for name in "${names[@]}"; do
      holds "$(done_at "$name") > $end" && end=$(done_at "$name")
    done
  else
    end=$(done_at "$sender")
  fi
  RESULT_SENDER=$(cpu_of "$sender")
  RESULT_RECEIVER=$(calc "%.2f" "$total / ${#names[@]}")
  RESULT_RSS=$rss
  if [ -n "$bad" ]; then
    RESULT_TIME=""
    RESULT_NOTE="no verified copy at:$bad"
  else
    RESULT_TIME=$(calc "%.2f" "$end - $start")
  fi
  local overruns=$(($(rcvbuf_errors) - OVERRUNS_BEFORE))
  [ "$overruns" -gt 0 ] && RESULT_NOTE="${RESULT_NOTE:+$RESULT_NOTE; }$overruns socket overruns"
  return 0
}

# $3: "signed" to sign the descriptors with SIGNING_KEY and have the receivers check them.
transfer_fcast() {
  local rate=$1 rounds=$2 signed=${3:-} host names=() copies=() start sign=() trust=()
  if [ "$signed" = signed ]; then
    sign=(--key "$SIGNING_KEY")
    trust=(--trust "$TRUSTED_KEY")
  fi
  case $rate in
    max) rate=10000000 ;;
    max:*) rate=${rate#max:} ;;
  esac
  OVERRUNS_BEFORE=$(rcvbuf_errors)
  for host in "${RECEIVERS[@]}"; do
    mkdir -p "$RUN/in$host"
    start_measured "$host" "recv$host" "$FCAST_BIN/fcast-recv" --group 230.0.0.2 --port 1711 \
      --dir "$RUN/in$host" --interface "$(lab_address "$host")" --files 1 --timeout "$RUN_LIMIT" \
      "${trust[@]}" > /dev/null
    names+=("recv$host")
    copies+=("$RUN/in$host/$(basename "$SOURCE")")
  done
  sleep 0.5
  start=$(now)
  start_measured 0 send "$FCAST_BIN/fcast-send" --group 230.0.0.2 --port 1711 --rate "$rate" \
    --rounds "$rounds" --interface "$(lab_address 0)" "${sign[@]}" "$SOURCE" > /dev/null
  wait_jobs "$start" "${names[@]}"
  # The receivers are done: the rounds still to go do not count.
  stop_measured send
  wait_jobs "$start" send
  collect send "$start" receivers "${names[@]}" "${copies[@]}"
}

transfer_udpcast() {
  local rate=$1 host names=() copies=() start bitrate=()
  [ "$rate" != max ] && bitrate=(--max-bitrate "${rate}k")
  OVERRUNS_BEFORE=$(rcvbuf_errors)
  for host in "${RECEIVERS[@]}"; do
    start_measured "$host" "recv$host" udp-receiver --file "$RUN/copy$host" --interface eth0 --nokbd \
      --mcast-rdv-address 230.0.0.9 --portbase 9000 > /dev/null
    names+=("recv$host")
    copies+=("$RUN/copy$host")
  done
  sleep 0.5
  start=$(now)
  start_measured 0 send udp-sender --file "$SOURCE" --interface eth0 --nokbd --mcast-rdv-address 230.0.0.9 \
    --portbase 9000 --min-receivers ${#RECEIVERS[@]} "${bitrate[@]}" > /dev/null
  wait_jobs "$start" "${names[@]}" send
  collect send "$start" receivers "${names[@]}" "${copies[@]}"
}

transfer_uftp() {
  local rate=$1 host names=() copies=() clients=() start
  [ "$rate" = max ] && rate=-1
  OVERRUNS_BEFORE=$(rcvbuf_errors)
  for host in "${RECEIVERS[@]}"; do
    mkdir -p "$RUN/in$host"
    start_measured "$host" "recv$host" uftpd -d -q -D "$RUN/in$host" -I eth0 > /dev/null
    names+=("recv$host")
    copies+=("$RUN/in$host/$(basename "$SOURCE")")
    clients+=("$(printf '0x%02x%02x%02x%02x' $(lab_address "$host" | tr . ' '))")
  done
  sleep 0.5
  start=$(now)
  # A closed group of the clients, and a round-trip estimate fit for a LAN, so the
  # sender starts as soon as they have registered.
  start_measured 0 send uftp -I eth0 -R "$rate" -r 0.05 -H "$(IFS=,; echo "${clients[*]}")" "$SOURCE" > /dev/null
  wait_jobs "$start" send
  for name in "${names[@]}"; do stop_measured "$name"; done
  wait_jobs "$start" "${names[@]}"
  collect send "$start" sender "${names[@]}" "${copies[@]}"
}

# The rate fcast-send keeps alone on the network, one round of SOURCE at |rate| kbit/s:
# prints the payload rate it reports, in kbit/s.
pacing_fcast() {
  local rate=$1
  lab_exec 0 timeout -s KILL "$RUN_LIMIT" "$FCAST_BIN/fcast-send" --group 230.0.0.2 --port 1711 --rate "$rate" \
    --rounds 1 --interface "$(lab_address 0)" "$SOURCE" 2> /dev/null | grep -o 'kbit/s=[0-9.]*' | cut -d= -f2
}
