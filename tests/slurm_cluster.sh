# shellcheck shell=bash
# A throw-away Slurm cluster on this one machine for tests: munged, slurmctld and three
# slurmd (n1, n2, n3), every file of theirs inside one folder. Source it, then:
#   reason=$(slurm_cluster_skip_reason) && { echo "skipped: $reason"; exit 77; }
#   trap slurm_cluster_stop EXIT
#   slurm_cluster_start "$(mktemp -d)" || exit 1
# Call slurm_cluster_start in the test's own shell, not in $(...): it exports SLURM_CONF,
# and only that shell can wait for the daemons it started.

declare -gA _slurm_pid=()   # daemon name -> pid
_slurm_dir=

slurm_cluster_skip_reason() {
  if [ "$(id -u)" -ne 0 ]; then
    echo "the Slurm cluster needs root (its daemons run as root)"
    return 0
  fi
  local command
  for command in munged slurmctld slurmd sbatch srun sinfo squeue scontrol scancel; do
    if ! command -v "$command" >/dev/null; then
      echo "$command is missing (Debian packages: slurmctld slurmd slurm-client munge)"
      return 0
    fi
  done
  return 1
}

# A port that no socket on this machine uses, at either end.
_slurm_port_free() {
  ! grep -qi ":$(printf '%04X' "$1") " /proc/net/tcp /proc/net/tcp6 2>/dev/null
}

_slurm_fail() {
  echo "slurm_cluster_start: $1" >&2
  [ -f "$_slurm_dir/log/$2.stderr" ] && tail -n 20 "$_slurm_dir/log/$2.stderr" | sed 's/^/  | /' >&2
  slurm_cluster_stop
  return 1
}

# Runs a daemon in the foreground, in the background, so that its pid is ours to stop. Its
# standard error has all it logs, early failures included; Slurm's own log adds timestamps.
_slurm_daemon() {
  local name=$1
  shift
  "$@" </dev/null >"$_slurm_dir/log/$name.stderr" 2>&1 &
  _slurm_pid[$name]=$!
}

slurm_cluster_start() {
  local dir=$1 host base port n name states deadline
  host=$(hostname -s)
  mkdir -p "$dir"/{munge,state,log,run} "$dir"/spool/n{1,2,3} || return 1
  _slurm_dir=$dir

  # A random base, so that a cluster stopped just before never holds the ports.
  for _ in 1 2 3 4 5 6 7 8 9 10; do
    base=$((20000 + RANDOM % 20000))
    for port in "$base" $((base + 1)) $((base + 2)) $((base + 3)); do
      _slurm_port_free "$port" || continue 2
    done
    break
  done

  dd if=/dev/urandom of="$dir/munge/key" bs=1 count=1024 status=none && chmod 600 "$dir/munge/key"
  # --force: munged refuses a socket folder that others cannot enter, as mktemp -d makes.
  _slurm_daemon munged munged --foreground --force \
    --socket="$dir/munge/socket" --key-file="$dir/munge/key" --pid-file="$dir/run/munged.pid" \
    --seed-file="$dir/munge/seed" --log-file="$dir/log/munged.log"

  cat >"$dir/slurm.conf" <<EOF
ClusterName=matbench
SlurmctldHost=$host(127.0.0.1)
SlurmctldPort=$base
SlurmUser=root
SlurmdUser=root
AuthType=auth/munge
CredType=cred/munge
AuthInfo=socket=$dir/munge/socket
StateSaveLocation=$dir/state
SlurmdSpoolDir=$dir/spool/%n
SlurmctldPidFile=$dir/run/slurmctld.pid
SlurmdPidFile=$dir/run/slurmd-%n.pid
SlurmctldLogFile=$dir/log/slurmctld.log
SlurmdLogFile=$dir/log/slurmd-%n.log
ProctrackType=proctrack/linuxproc
TaskPlugin=task/affinity
SelectType=select/cons_tres
SelectTypeParameters=CR_Core
MpiDefault=none
ReturnToService=2
KillWait=5
MinJobAge=2
MailProg=/bin/true
EOF
  for n in 1 2 3; do
    echo "NodeName=n$n NodeHostname=$host NodeAddr=127.0.0.1 Port=$((base + n))" \
      "CPUs=2 Sockets=1 CoresPerSocket=2 ThreadsPerCore=1 State=UNKNOWN" >>"$dir/slurm.conf"
  done
  echo "PartitionName=all Nodes=n[1-3] Default=YES MaxTime=INFINITE State=UP" >>"$dir/slurm.conf"
  export SLURM_CONF=$dir/slurm.conf

  # Slurm's daemons give up on munged if its socket is not there yet.
  deadline=$((SECONDS + 10))
  until [ -S "$dir/munge/socket" ]; do
    [ "$SECONDS" -lt "$deadline" ] || { _slurm_fail "munged did not start" munged; return 1; }
    sleep 0.1
  done
  _slurm_daemon slurmctld slurmctld -D -f "$SLURM_CONF"
  for n in 1 2 3; do
    _slurm_daemon "slurmd-n$n" slurmd -D -f "$SLURM_CONF" -N "n$n"
  done

  deadline=$((SECONDS + 30))
  while :; do
    for name in "${!_slurm_pid[@]}"; do
      kill -0 "${_slurm_pid[$name]}" 2>/dev/null || { _slurm_fail "$name exited" "$name"; return 1; }
    done
    states=$(sinfo -h -N -o '%N=%t' 2>/dev/null | sort -u | tr '\n' ' ')
    [ "$states" = "n1=idle n2=idle n3=idle " ] && return 0
    [ "$SECONDS" -lt "$deadline" ] ||
      { _slurm_fail "nodes not idle after 30 s: ${states:-no answer}" slurmctld; return 1; }
    sleep 0.2
  done
}

# Stops the named daemons: SIGTERM, up to 5 s, then SIGKILL. They are this shell's children,
# so their pids cannot be reused by another process before this shell has reaped them.
_slurm_kill() {
  local name pid pids=() alive waited=0
  for name in "$@"; do
    [ -n "${_slurm_pid[$name]:-}" ] && pids+=("${_slurm_pid[$name]}")
    unset "_slurm_pid[$name]"
  done
  [ ${#pids[@]} -gt 0 ] || return 0
  kill -TERM "${pids[@]}" 2>/dev/null
  while :; do
    alive=()
    for pid in "${pids[@]}"; do
      kill -0 "$pid" 2>/dev/null && alive+=("$pid")
    done
    [ ${#alive[@]} -eq 0 ] && break
    [ "$waited" -ge 50 ] && { kill -KILL "${alive[@]}" 2>/dev/null; break; }
    sleep 0.1
    waited=$((waited + 1))
  done
  wait "${pids[@]}" 2>/dev/null
  return 0
}

slurm_cluster_stop() {
  local conf=$_slurm_dir/slurm.conf ctld=${_slurm_pid[slurmctld]:-}
  [ ${#_slurm_pid[@]} -gt 0 ] || return 0
  # Jobs first, killed at once rather than after KillWait: their slurmstepd and tasks outlive
  # slurmd, and only slurmctld and slurmd can reach them.
  if [ -n "$ctld" ] && kill -0 "$ctld" 2>/dev/null; then
    SLURM_CONF=$conf timeout 5 scancel --quiet --user=root --state=PENDING
    SLURM_CONF=$conf timeout 5 scancel --quiet --user=root --full --signal=KILL
    for _ in $(seq 30); do
      [ -z "$(SLURM_CONF=$conf timeout 5 squeue -h -t R,CG -o %i 2>/dev/null)" ] && break
      sleep 0.1
    done
  fi
  # slurmd first, while its controller still answers it.
  _slurm_kill slurmd-n1 slurmd-n2 slurmd-n3
  _slurm_kill slurmctld
  _slurm_kill munged
  return 0
}
