#!/usr/bin/env bash
# A one-node Slurm cluster on this machine (munge, slurmctld, slurmd on localhost), for testing
# the sweep's Slurm back end. Needs root and the Debian packages slurm-wlm and munge.
#
#   tools/slurm-local.sh start   # prints the SLURM_CONF line to export
#   tools/slurm-local.sh stop
#
# Everything lives under $DENSEPACK_SLURM_DIR (default /tmp/densepack-slurm); stop ends only the
# daemons whose pid files are there.
set -euo pipefail

dir="${DENSEPACK_SLURM_DIR:-/tmp/densepack-slurm}"
conf="$dir/slurm.conf"

stop_pid() {
  local file="$1"
  [ -f "$file" ] || return 0
  local pid
  pid=$(cat "$file")
  if kill -0 "$pid" 2>/dev/null; then
    kill "$pid"
    for _ in $(seq 50); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
  fi
  rm -f "$file"
}

case "${1:-}" in
start)
  mkdir -p "$dir"/{state,spool,log,munge}
  host=$(hostname -s)
  cpus=$(nproc)
  mem=$(awk '/MemTotal/ {print int($2 / 1024 * 0.8)}' /proc/meminfo)
  cat > "$conf" <<EOF
ClusterName=densepack
SlurmctldHost=$host(127.0.0.1)
SlurmUser=root
SlurmdUser=root
AuthType=auth/munge
CredType=cred/munge
StateSaveLocation=$dir/state
SlurmdSpoolDir=$dir/spool
SlurmctldPidFile=$dir/slurmctld.pid
SlurmdPidFile=$dir/slurmd.pid
SlurmctldLogFile=$dir/log/slurmctld.log
SlurmdLogFile=$dir/log/slurmd.log
ProctrackType=proctrack/linuxproc
TaskPlugin=task/none
JobAcctGatherType=jobacct_gather/none
AccountingStorageType=accounting_storage/none
SchedulerType=sched/backfill
SelectType=select/cons_tres
SelectTypeParameters=CR_Core
MpiDefault=none
ReturnToService=2
SlurmdTimeout=30
InactiveLimit=0
KillWait=5
MinJobAge=30
NodeName=$host NodeAddr=127.0.0.1 CPUs=$cpus RealMemory=$mem State=UNKNOWN
PartitionName=local Nodes=$host Default=YES MaxTime=INFINITE State=UP
EOF
  # munge: its own key and socket, so a munged the machine already runs is left alone.
  if [ ! -f "$dir/munge/munge.key" ]; then
    dd if=/dev/urandom of="$dir/munge/munge.key" bs=1024 count=1 status=none
    chmod 400 "$dir/munge/munge.key"
  fi
  if ! [ -f "$dir/munged.pid" ] || ! kill -0 "$(cat "$dir/munged.pid")" 2>/dev/null; then
    munged --key-file="$dir/munge/munge.key" --socket="$dir/munge/munge.socket" \
      --pid-file="$dir/munged.pid" --log-file="$dir/log/munged.log" --seed-file="$dir/munge/munge.seed" --force
  fi
  # The daemons and every client find this munge socket through the plugin option.
  echo "AuthInfo=socket=$dir/munge/munge.socket" >> "$conf"
  export SLURM_CONF="$conf"
  stop_pid "$dir/slurmd.pid"  # a restart replaces daemons left from an earlier start
  stop_pid "$dir/slurmctld.pid"
  slurmctld -f "$conf"
  slurmd -f "$conf"
  # Ready when the node takes jobs.
  for _ in $(seq 100); do
    if sinfo -h -o '%t' 2>/dev/null | grep -qE '^(idle|mix|alloc)'; then
      echo "export SLURM_CONF=$conf"
      exit 0
    fi
    sleep 0.2
  done
  echo "slurm-local: the node did not come up; logs in $dir/log" >&2
  sinfo >&2 || true
  exit 1
  ;;
stop)
  stop_pid "$dir/slurmd.pid"
  stop_pid "$dir/slurmctld.pid"
  stop_pid "$dir/munged.pid"
  ;;
*)
  echo "Usage: $0 start|stop" >&2
  exit 2
  ;;
esac
