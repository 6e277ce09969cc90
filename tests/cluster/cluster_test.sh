#!/usr/bin/env bash
# The cluster recipe (scripts/cluster) end to end, on generated images whose
# every output must be byte for byte what one hostbatch run of the whole list
# writes. Usage: cluster_test.sh MODE BIN_DIR LIB_DIR WORK_DIR
#   recipe  40 images through GNU parallel -j 4 and --sshlogin 4/: (this
#           machine, no ssh); a list
#           holding a name twice refused at split time; a failed task reported
#           with its slice and run again alone; gather never overwrites
#   slurm   200 images as a 4-task array job on a one-node Slurm cluster on
#           127.0.0.1 only (munge, no cgroups); the daemons are stopped by their
#           process ids.
#           Exits 77 (skipped) where Slurm cannot start: not root.
set -euo pipefail
mode="$1"
bin="$(cd "$2" && pwd)"
lib="$(cd "$3" && pwd)"
mkdir -p "$4"
work="$(cd "$4" && pwd)"
here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
root="$(cd "$here/../.." && pwd)"
script="$root/examples/cluster/resize.mel"
export PATH="$bin:$PATH" MAYA_PLUG_IN_PATH="$lib"
unset MAYA_SCRIPT_PATH PICTILE_PIXEL_BUDGET

fail() {
  echo "FAILED: $*" >&2
  exit 1
}

# expectFailure EXPECTED-TEXT COMMAND...: the command fails and says the text.
expectFailure() {
  local expected="$1" output
  shift
  if output="$("$@" 2>&1)"; then
    fail "$* succeeded: $output"
  fi
  grep -qF -- "$expected" <<<"$output" || fail "$* said: $output
  expected: $expected"
}

# sameOutputs FOLDER: every file gathered in FOLDER is the reference's, byte for
# byte, and none is missing or extra.
sameOutputs() {
  diff -r "$work/reference" "$1" >/dev/null || fail "$1 differs from the single run: $(diff -rq "$work/reference" "$1" | head -5)"
  echo "$1: all $(find "$1" -type f | wc -l) files the same as the single run's"
}

# makeReference COUNT: the images, and the reference: one hostbatch process over
# the whole list.
makeReference() {
  rm -rf "${work:?}"/*
  python3 "$here/make_images.py" "$work/images" "$1"
  "$root/scripts/cluster" split "$work/images/list.txt" 1 "$work/whole"
  "$root/scripts/cluster" task "$work/whole" 0 "$script" || fail "the single run failed: $(cat "$work/whole/task-0/transcript.txt")"
  "$root/scripts/cluster" gather "$work/whole" "$work/reference"
  [ "$(find "$work/reference" -name '*.iff' | wc -l)" = "$1" ] || fail "the single run wrote no $1 files"
}

recipe() {
  makeReference 40
  # Split refuses a list that would have two names write one file.
  printf 'image_000.png\nimage_001.png\nimage_000.png\n' >"$work/twice.txt"
  expectFailure "the list holds image_000.png twice (names 1 and 3)" \
    "$root/scripts/cluster" split "$work/twice.txt" 2 "$work/twice" "$work/images"
  printf 'image_000.png\nimage_000.jpg\n' >"$work/clash.txt"
  expectFailure "image_000.png and image_000.jpg both write image_000.iff" \
    "$root/scripts/cluster" split "$work/clash.txt" 2 "$work/clash" "$work/images"
  [ ! -e "$work/twice" ] && [ ! -e "$work/clash" ] || fail "a refused split left a folder"

  "$root/scripts/cluster" split "$work/images/list.txt" 4 "$work/jobs"
  "$root/scripts/cluster" parallel "$work/jobs" "$script" -j 4
  "$root/scripts/cluster" gather "$work/jobs" "$work/gathered"
  sameOutputs "$work/gathered"
  expectFailure "not overwriting in $work/gathered" "$root/scripts/cluster" gather "$work/jobs" "$work/gathered"

  "$root/scripts/cluster" split "$work/images/list.txt" 4 "$work/ssh"
  "$root/scripts/cluster" parallel "$work/ssh" "$script" --sshlogin 4/:
  "$root/scripts/cluster" gather "$work/ssh" "$work/gathered-ssh"
  sameOutputs "$work/gathered-ssh"

  # A task fails on an image it cannot read (the third slice, names 21 to 30);
  # the report names it and its slice, and it runs again alone once mended.
  "$root/scripts/cluster" split "$work/images/list.txt" 4 "$work/broken"
  mv "$work/images/image_025.png" "$work/image_025.png"
  expectFailure "task 2 failed with exit status 1: 10 names, image_020.png to image_029.png" \
    "$root/scripts/cluster" parallel "$work/broken" "$script" -j 4
  expectFailure "1 of 4 tasks did not succeed" "$root/scripts/cluster" status "$work/broken"
  mv "$work/image_025.png" "$work/images/image_025.png"
  "$root/scripts/cluster" task "$work/broken" 2 "$script"
  "$root/scripts/cluster" status "$work/broken"
  "$root/scripts/cluster" gather "$work/broken" "$work/gathered-broken"
  sameOutputs "$work/gathered-broken"
}

# Free TCP ports on the loopback address for the two daemons.
freePorts() {
  python3 -c '
import socket
sockets = [socket.socket() for _ in range(2)]
for s in sockets:
    s.bind(("127.0.0.1", 0))
print(" ".join(str(s.getsockname()[1]) for s in sockets))'
}

daemons=()
stopDaemons() {
  local pid
  for pid in "${daemons[@]}"; do
    kill "$pid" 2>/dev/null || true
  done
  for pid in "${daemons[@]}"; do
    wait "$pid" 2>/dev/null || true
  done
}

# waitFor SECONDS WHAT COMMAND...: polls COMMAND until it succeeds.
waitFor() {
  local tries=$(($1 * 10)) what="$2"
  shift 2
  until "$@" >/dev/null 2>&1; do
    ((--tries > 0)) || fail "$what did not come up; the logs are in $cluster_dir"
    sleep 0.1
  done
}

slurm() {
  if [ "$(id -u)" -ne 0 ]; then
    echo "SKIPPED: the Slurm cluster needs root (slurmd starts jobs as their users)"
    exit 77
  fi
  for program in munged mungekey slurmctld slurmd sbatch; do
    command -v "$program" >/dev/null || fail "$program is missing: scripts/install-deps test installs Slurm and munge"
  done
  makeReference 200
  # The daemons' sockets must have short paths (108 bytes at most), whatever
  # the build folder's: the cluster lives in /tmp, and goes once it has passed.
  cluster_dir="$(mktemp -d /tmp/pictile-slurm.XXXXXX)"
  mkdir -p "$cluster_dir/state" "$cluster_dir/spool"
  trap stopDaemons EXIT

  mungekey --create --keyfile="$cluster_dir/munge.key"
  munged --foreground --force --socket="$cluster_dir/munge.socket" --key-file="$cluster_dir/munge.key" \
    --log-file="$cluster_dir/munged.log" --pid-file="$cluster_dir/munged.pid" \
    --seed-file="$cluster_dir/munged.seed" >"$cluster_dir/munged.out" 2>&1 &
  daemons+=($!)
  waitFor 10 munged test -S "$cluster_dir/munge.socket"

  local ports
  read -r -a ports <<<"$(freePorts)"
  export SLURM_CONF="$cluster_dir/slurm.conf"
  cat >"$SLURM_CONF" <<EOF
ClusterName=pictile
SlurmctldHost=localhost(127.0.0.1)
SlurmctldPort=${ports[0]}
SlurmdPort=${ports[1]}
CommunicationParameters=NoCtldInAddrAny,NoInAddrAny
AuthType=auth/munge
CredType=cred/munge
AuthInfo=socket=$cluster_dir/munge.socket
SlurmUser=root
SlurmdUser=root
StateSaveLocation=$cluster_dir/state
SlurmdSpoolDir=$cluster_dir/spool
SlurmctldPidFile=$cluster_dir/slurmctld.pid
SlurmdPidFile=$cluster_dir/slurmd.pid
SlurmctldLogFile=$cluster_dir/slurmctld.log
SlurmdLogFile=$cluster_dir/slurmd.log
ProctrackType=proctrack/linuxproc
TaskPlugin=task/none
JobAcctGatherType=jobacct_gather/none
AccountingStorageType=accounting_storage/none
MpiDefault=none
SchedulerType=sched/backfill
SchedulerParameters=batch_sched_delay=0
SelectType=select/cons_tres
SelectTypeParameters=CR_CPU
ReturnToService=2
NodeName=pictile-node NodeAddr=127.0.0.1 NodeHostname=localhost CPUs=2 State=UNKNOWN
PartitionName=batch Nodes=pictile-node Default=YES MaxTime=INFINITE State=UP
EOF
  local started=$SECONDS
  slurmctld -D -i >"$cluster_dir/slurmctld.out" 2>&1 &
  daemons+=($!)
  slurmd -D -N pictile-node >"$cluster_dir/slurmd.out" 2>&1 &
  daemons+=($!)
  waitFor 60 "the node" sh -c 'sinfo -h -N -o %t | grep -qx idle'
  echo "one-node Slurm cluster up on 127.0.0.1:${ports[0]} in $((SECONDS - started)) s"

  "$root/scripts/cluster" split "$work/images/list.txt" 4 "$work/array"
  started=$SECONDS
  "$root/scripts/cluster" slurm "$work/array" "$script" || fail "the array job failed: $(cat "$cluster_dir/slurmctld.log" | tail -5)"
  echo "4-task array job done in $((SECONDS - started)) s"
  "$root/scripts/cluster" gather "$work/array" "$work/gathered-slurm"
  sameOutputs "$work/gathered-slurm"
  # One task again, alone: the later --array wins over the whole array's.
  rm "$work/array/task-2/status"
  "$root/scripts/cluster" slurm "$work/array" "$script" --array=2 || fail "task 2 alone failed"
  [ "$(cat "$work/array/task-2/status")" = 0 ] || fail "task 2 did not run again"

  stopDaemons
  trap - EXIT
  local pid
  for pid in "${daemons[@]}"; do
    ! kill -0 "$pid" 2>/dev/null || fail "daemon $pid still runs"
  done
  echo "daemons ${daemons[*]} stopped"
  rm -rf "$cluster_dir"
}

case "$mode" in
  recipe) recipe ;;
  slurm) slurm ;;
  *) fail "unknown mode $mode" ;;
esac
echo "PASSED: $mode"
