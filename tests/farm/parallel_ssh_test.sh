#!/usr/bin/env bash
# A farm render through GNU parallel: one segment on this machine and the
# others over ssh to an sshd of the test's own on loopback (its machines
# farm1 and farm2 are both 127.0.0.1). The joined movie must be the movie one
# machine renders, for each of lib.sh's cases.
source "$(dirname "$0")/lib.sh"

need parallel ssh ssh-keygen ffprobe ffmpeg
[ -x /usr/sbin/sshd ] || skip "sshd is not installed (openssh-server; scripts/install-deps.sh installs it)"
farm_commands

# ---- An sshd of the test's own ---------------------------------------------
# Keys made here, root's login by key only, nothing read from /etc/ssh. sshd
# insists on its privilege-separation folder /run/sshd, which the system's
# service makes: where it is missing, sshd runs with a /run of its own in a
# private mount namespace rather than the test writing outside $tmp.
ssh-keygen -q -t ed25519 -N '' -f "$tmp/host_key"
ssh-keygen -q -t ed25519 -N '' -f "$tmp/user_key"
# The sessions get a HOME of the test's own, so the shell they start reads
# none of the user's startup files: those may do anything, such as wait on a
# lock that a killed login left behind.
mkdir -m 700 "$tmp/home"
echo "environment=\"HOME=$tmp/home\" $(cat "$tmp/user_key.pub")" >"$tmp/authorized_keys"
port=$(free_port)
cat >"$tmp/sshd_config" <<EOF
ListenAddress 127.0.0.1
Port $port
HostKey $tmp/host_key
AuthorizedKeysFile $tmp/authorized_keys
PidFile none
StrictModes no
UsePAM no
PermitRootLogin yes
PubkeyAuthentication yes
PermitUserEnvironment HOME
PasswordAuthentication no
KbdInteractiveAuthentication no
EOF
cat >"$tmp/ssh_config" <<EOF
Host farm1 farm2
  HostName 127.0.0.1
  Port $port
  User $(id -un)
  IdentityFile $tmp/user_key
  IdentitiesOnly yes
  UserKnownHostsFile /dev/null
  StrictHostKeyChecking no
  BatchMode yes
  LogLevel ERROR
EOF
if [ -d /run/sshd ]; then
  /usr/sbin/sshd -D -e -f "$tmp/sshd_config" 2>"$tmp/sshd.log" &
else
  unshare -m true 2>/dev/null || skip "/run/sshd is missing and no mount namespace can stand in for it"
  mkdir -m 755 "$tmp/run"
  unshare -m --propagation private sh -c \
    'mount --bind "$1" /run && mkdir -m 755 /run/sshd && exec /usr/sbin/sshd -D -e -f "$2"' \
    sh "$tmp/run" "$tmp/sshd_config" 2>"$tmp/sshd.log" &
fi
sshd_pid=$!
at_exit "stop_pid $sshd_pid"
ssh_cmd="ssh -F $tmp/ssh_config"
wait_for 15 $ssh_cmd farm1 true || {
  cat "$tmp/sshd.log" >&2
  fail "the test's sshd on port $port does not take the test's key"
}

# parallel keeps its own files under PARALLEL_HOME: here, not in ~/.parallel.
export PARALLEL_HOME=$tmp/parallel
mkdir -p "$PARALLEL_HOME"

# ---- The farm against one machine ------------------------------------------
for c in "${cases[@]}"; do
  case_args "$c"
  work=$tmp/segments_$c
  "$farm" -n 3 -S ":,farm1,farm2" --ssh "$ssh_cmd" --zemo3 "$zemo3" --workdir "$work" --keep \
    -o "$tmp/farm_$c.mov" -- "${args[@]}" >"$tmp/farm.log" 2>&1 || {
    cat "$tmp/farm.log" >&2
    fail "$c: zemo3-farm failed"
  }
  # Each machine rendered a segment: this one (':') and both over ssh.
  hosts=$(awk -F'\t' 'NR > 1 && $7 == 0 { print $2 }' "$work/joblog" | sort | tr '\n' ' ')
  [ "$hosts" = ": farm1 farm2 " ] || fail "$c: segments ran on '$hosts', not on ':', farm1 and farm2"
  [ "$(grep -c 'Progress: 100%' "$tmp/farm.log")" -ge 3 ] || fail "$c: the segments' progress did not come through"
  check_case "$c" "$tmp/farm_$c.mov" "$work"
done

# ---- A segment that fails stops the farm -----------------------------------
# Every render refuses this compression: parallel reports the failure, and no
# movie appears under the output's name.
case_args demo_25
if "$farm" -n 3 -S ":,farm1" --ssh "$ssh_cmd" --zemo3 "$zemo3" -o "$tmp/bad.mov" \
  -- "${args[@]}" --compression none >"$tmp/bad.log" 2>&1; then
  fail "zemo3-farm succeeded with segments that failed"
fi
[ ! -e "$tmp/bad.mov" ] || fail "a failed farm render left $tmp/bad.mov"
note "passed"
