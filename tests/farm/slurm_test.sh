#!/usr/bin/env bash
# A farm render as a Slurm job array on a one-node cluster the test brings up
# on loopback: munged and both Slurm daemons with their files in $tmp. The
# joined movie must be the movie one machine renders, for each of lib.sh's
# cases; a task that fails fails the farm.
source "$(dirname "$0")/lib.sh"

need munged slurmctld slurmd sbatch sinfo scontrol scancel ffprobe ffmpeg
farm_commands

# ---- munge ------------------------------------------------------------------
d=$tmp/slurm
mkdir -p "$d/state" "$d/spool"
dd if=/dev/urandom bs=1 count=1024 of="$d/munge.key" status=none
chmod 0400 "$d/munge.key"
munged -f -S "$d/munge.sock" --key-file="$d/munge.key" --log-file="$d/munged.log" \
  --pid-file="$d/munged.pid" --seed-file="$d/munge.seed" || fail "munged did not start: $(cat "$d/munged.log")"
at_exit "stop_pid \$(cat $d/munged.pid)"

# ---- Slurm ------------------------------------------------------------------
host=$(hostname -s)
ctld_port=$(free_port)
slurmd_port=$(free_port)
[ "$slurmd_port" != "$ctld_port" ] || slurmd_port=$(free_port)
export SLURM_CONF=$d/slurm.conf
cat >"$SLURM_CONF" <<EOF
ClusterName=zemofarm
SlurmctldHost=$host(127.0.0.1)
SlurmUser=root
SlurmdUser=root
SlurmctldPort=$ctld_port
SlurmdPort=$slurmd_port
AuthType=auth/munge
AuthInfo=socket=$d/munge.sock
CredType=cred/munge
StateSaveLocation=$d/state
SlurmdSpoolDir=$d/spool
SlurmctldPidFile=$d/slurmctld.pid
SlurmdPidFile=$d/slurmd.pid
SlurmctldLogFile=$d/slurmctld.log
SlurmdLogFile=$d/slurmd.log
ProctrackType=proctrack/linuxproc
TaskPlugin=task/none
JobAcctGatherType=jobacct_gather/none
AccountingStorageType=accounting_storage/none
SelectType=select/cons_tres
SelectTypeParameters=CR_Core
MpiDefault=none
ReturnToService=2
NodeName=$host NodeAddr=127.0.0.1 CPUs=$(nproc) State=UNKNOWN
PartitionName=farm Nodes=ALL Default=YES State=UP MaxTime=INFINITE OverSubscribe=FORCE:4
EOF
slurmctld -D -f "$SLURM_CONF" >"$d/slurmctld.out" 2>&1 &
at_exit "stop_pid $!"
slurmd -D -f "$SLURM_CONF" >"$d/slurmd.out" 2>&1 &
# The job steps still running when the test ends go first, then the daemons.
at_exit "scancel --quiet --partition=farm; sleep 0.5; stop_pid $!"
node_idle() { sinfo -h -N -o %t | grep -qx idle; }
wait_for 30 node_idle || {
  tail -n 20 "$d/slurmctld.log" "$d/slurmd.log" "$d"/*.out >&2
  fail "the test's Slurm node did not come up idle: $(sinfo -h -N -o %t 2>&1)"
}

# ---- The farm against one machine ------------------------------------------
# The cases' arrays and one that must fail go in together: sbatch --wait
# polls every few seconds, and one at a time would spend most of the test
# waiting.
case_args demo_25
"$farm" --engine slurm -n 2 --zemo3 "$zemo3" -o "$tmp/bad.mov" \
  -- "${args[@]}" --compression none >"$tmp/bad.log" 2>&1 &
bad=$!
farms=()
for c in "${cases[@]}"; do
  case_args "$c"
  "$farm" --engine slurm -n 3 --zemo3 "$zemo3" --workdir "$tmp/segments_$c" --keep -o "$tmp/farm_$c.mov" \
    -- "${args[@]}" >"$tmp/farm_$c.log" 2>&1 &
  farms+=($!)
done
for i in "${!cases[@]}"; do
  c=${cases[i]}
  work=$tmp/segments_$c
  wait "${farms[i]}" || {
    cat "$tmp/farm_$c.log" "$work"/seg_*.log >&2
    fail "$c: zemo3-farm through Slurm failed"
  }
  # Three array tasks each wrote their segment and its progress.
  for t in 0000 0001 0002; do
    [ -s "$work/seg_$t.mov" ] || fail "$c: task $t left no segment"
    grep -q 'Progress: 100%' "$work/seg_$t.log" || fail "$c: task $t's log has no progress lines"
  done
  check_case "$c" "$tmp/farm_$c.mov" "$work"
done

# ---- A task that fails fails the farm --------------------------------------
if wait $bad; then
  fail "zemo3-farm succeeded with array tasks that failed"
fi
[ ! -e "$tmp/bad.mov" ] || fail "a failed farm render left $tmp/bad.mov"
note "passed"
