#!/usr/bin/env bash
# A one-node Slurm cluster on this machine, for trying and testing quorvex-farm.
#
#   scripts/local-slurm.sh start   # installs munge and Slurm if missing, starts them
#   scripts/local-slurm.sh stop    # stops what start started, by process id
#   scripts/local-slurm.sh env     # prints the line that points Slurm's commands here
#
# Runs as root. Everything (munge key and socket, slurm.conf, state, spool,
# logs, pid files) lives in one folder, $QUORVEX_SLURM_DIR or
# /tmp/quorvex-slurm; nothing under /etc is changed. Both commands are safe to
# repeat: start on a running cluster checks it and returns, stop on a stopped
# one does nothing. The commands sbatch, squeue, scancel find this cluster
# through SLURM_CONF (see `env`).
set -euo pipefail

DIR=${QUORVEX_SLURM_DIR:-/tmp/quorvex-slurm}
NODE=$(hostname -s)
CPUS=${QUORVEX_SLURM_CPUS:-2}
# Ports of their own, so that a Slurm already configured on the machine is not disturbed.
CTLD_PORT=${QUORVEX_SLURM_PORT:-16817}
SLURMD_PORT=$((CTLD_PORT + 1))
export SLURM_CONF=$DIR/slurm.conf

say() { echo "local-slurm: $*" >&2; }
die() {
  say "$*"
  exit 1
}

install_packages() {
  local missing=()
  command -v munged >/dev/null || missing+=(munge)
  command -v slurmctld >/dev/null || missing+=(slurmctld)
  command -v slurmd >/dev/null || missing+=(slurmd)
  command -v sbatch >/dev/null || missing+=(slurm-client)
  [ ${#missing[@]} -eq 0 ] && return
  say "installing ${missing[*]}"
  # Keep the packages' own services from starting: this script runs its own.
  local policy=/usr/sbin/policy-rc.d made_policy=0
  if [ ! -e $policy ]; then
    printf '#!/bin/sh\nexit 101\n' >$policy && chmod +x $policy && made_policy=1
  fi
  DEBIAN_FRONTEND=noninteractive apt-get install -y --no-install-recommends "${missing[@]}" >/dev/null ||
    { apt-get update >/dev/null && DEBIAN_FRONTEND=noninteractive apt-get install -y --no-install-recommends "${missing[@]}" >/dev/null; }
  [ $made_policy = 1 ] && rm -f $policy
  return 0
}

# True while a process runs (an ended one waiting to be reaped does not count).
alive() {
  local stat
  stat=$(cat "/proc/$1/stat" 2>/dev/null) || return 1
  stat=${stat##*) }  # the state follows the command name in brackets
  [[ $stat != Z* ]]
}

# The process id recorded in a pid file, when that process still runs.
running_pid() {
  local file=$1 pid
  [ -s "$file" ] || return 1
  pid=$(cat "$file")
  [[ $pid =~ ^[0-9]+$ ]] && alive "$pid" && echo "$pid"
}

stop_pid_file() {
  local file=$1 name=$2 pid
  if pid=$(running_pid "$file"); then
    kill -TERM "$pid"
    for _ in $(seq 1 50); do alive "$pid" || break; sleep 0.1; done
    if alive "$pid"; then
      say "$name ($pid) did not stop; killing it"
      kill -KILL "$pid" 2>/dev/null || true
    fi
    say "stopped $name ($pid)"
  fi
  rm -f "$file"
}

write_config() {
  mkdir -p "$DIR/state" "$DIR/spool" "$DIR/munge"
  chmod 700 "$DIR" "$DIR/munge"
  if [ ! -s "$DIR/munge/munge.key" ]; then
    dd if=/dev/urandom of="$DIR/munge/munge.key" bs=1024 count=1 status=none
  fi
  chmod 400 "$DIR/munge/munge.key"
  cat >"$DIR/slurm.conf.tmp" <<EOF
# One-node cluster written by scripts/local-slurm.sh.
ClusterName=quorvexlocal
SlurmctldHost=$NODE(127.0.0.1)
SlurmctldPort=$CTLD_PORT
SlurmdPort=$SLURMD_PORT
SlurmUser=root
SlurmdUser=root
AuthType=auth/munge
CredType=cred/munge
AuthInfo=socket=$DIR/munge/munge.socket
StateSaveLocation=$DIR/state
SlurmdSpoolDir=$DIR/spool
SlurmctldPidFile=$DIR/slurmctld.pid
SlurmdPidFile=$DIR/slurmd.pid
SlurmctldLogFile=$DIR/slurmctld.log
SlurmdLogFile=$DIR/slurmd.log
SlurmctldDebug=info
SlurmdDebug=info
ProctrackType=proctrack/linuxproc
TaskPlugin=task/none
MpiDefault=none
SwitchType=switch/none
SchedulerType=sched/backfill
SelectType=select/cons_tres
SelectTypeParameters=CR_Core
JobAcctGatherType=jobacct_gather/none
AccountingStorageType=accounting_storage/none
JobCompType=jobcomp/none
ReturnToService=2
# Quick turns: a cancelled task gets 5 s between TERM and KILL, jobs stay listed 10 minutes.
KillWait=5
MinJobAge=600
SchedulerParameters=sched_interval=2
NodeName=$NODE NodeAddr=127.0.0.1 CPUs=$CPUS State=UNKNOWN
PartitionName=local Nodes=$NODE Default=YES MaxTime=INFINITE State=UP
EOF
  mv "$DIR/slurm.conf.tmp" "$DIR/slurm.conf"
}

node_ready() {
  local state
  state=$(sinfo -h -n "$NODE" -o %T 2>/dev/null | head -1) || return 1
  case $state in idle | mixed | allocated | completing) return 0 ;; *) return 1 ;; esac
}

start() {
  [ "$(id -u)" = 0 ] || die "start runs as root (the daemons run jobs as their submitting users)"
  install_packages
  if running_pid "$DIR/munged.pid" >/dev/null && running_pid "$DIR/slurmctld.pid" >/dev/null &&
    running_pid "$DIR/slurmd.pid" >/dev/null && node_ready; then
    say "already running in $DIR"
    return
  fi
  stop quietly
  write_config
  munged --force --socket="$DIR/munge/munge.socket" --key-file="$DIR/munge/munge.key" \
    --pid-file="$DIR/munged.pid" --log-file="$DIR/munged.log" --seed-file="$DIR/munge/seed"
  for _ in $(seq 1 50); do [ -S "$DIR/munge/munge.socket" ] && break; sleep 0.1; done
  [ -S "$DIR/munge/munge.socket" ] || die "munged did not start; see $DIR/munged.log"
  # -c: a clean state (no jobs left from an earlier run); -i: ignore old state errors.
  slurmctld -f "$SLURM_CONF" -c -i || die "slurmctld did not start; see $DIR/slurmctld.log"
  slurmd -f "$SLURM_CONF" -N "$NODE" || die "slurmd did not start; see $DIR/slurmd.log"
  for _ in $(seq 1 150); do
    if node_ready; then
      say "running in $DIR (node $NODE, $CPUS CPUs, partition local)"
      say "for sbatch and quorvex-farm: export SLURM_CONF=$SLURM_CONF"
      return
    fi
    # A node that registered as down (after an unclean stop) is put back to work.
    scontrol update nodename="$NODE" state=resume >/dev/null 2>&1 || true
    sleep 0.2
  done
  sinfo >&2 || true
  tail -n 20 "$DIR/slurmctld.log" "$DIR/slurmd.log" >&2 || true
  die "the node did not come up within 30 s"
}

stop() {
  [ -d "$DIR" ] || return 0
  [ "${1:-}" = quietly ] || [ -e "$DIR/slurmctld.pid" ] || [ -e "$DIR/munged.pid" ] || say "not running"
  stop_pid_file "$DIR/slurmd.pid" slurmd
  stop_pid_file "$DIR/slurmctld.pid" slurmctld
  stop_pid_file "$DIR/munged.pid" munged
  # Job processes slurmd started are its children and have ended with it; the
  # folder goes, so that the next start is a fresh cluster.
  rm -rf "$DIR"
}

case ${1:-} in
start) start ;;
stop) stop ;;
env) echo "export SLURM_CONF=$SLURM_CONF" ;;
*) die "usage: $0 start|stop|env" ;;
esac
