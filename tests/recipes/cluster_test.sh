#!/usr/bin/env bash
# Runs the proteome recipes of workflow/ for real and compares every joined
# result with one velcorin2 process on the same input, with --regions,
# --gff3 and --threads 2: tests/recipes/recipes_test.sh, then parallel_run.sh
# (32 kB blocks) and the Snakefile with --cores 2 (the cases of
# cluster.tsv); then a single-node Slurm started here on localhost (munged,
# slurmctld and slurmd with data/slurm.conf.in filled in, all in a temporary
# directory), on which slurm_array.sh runs as a 100-task array followed by
# join_pieces.sh as a dependent job, and the Snakefile with --slurm (the
# cases of slurm.tsv).  Tables, region tables and GFF3 are compared byte for
# byte; the logs after removing the record numbers that begin their lines.
#
#   tests/recipes/cluster_test.sh [VELCORIN2]    (default: build/velcorin2)
#
# Builds nothing.  A step whose tools are missing fails, naming the Debian
# packages (parallel, snakemake; slurm-wlm and munge for Slurm), unless
# VELCORIN_SKIP_PARALLEL=1, VELCORIN_SKIP_SNAKEMAKE=1 or VELCORIN_SKIP_SLURM=1
# says to skip it (tests/need_tool.sh).  Starting the daemons needs root:
# run by another user the Slurm steps are skipped, with a message; daemons
# that are installed but do not come up count as a failure.  They are
# stopped by their process ids when the script ends.  CLUSTER_TEST_KEEP=1
# keeps the temporary directory.
source "$(dirname "$0")/lib.sh"
export USER=${USER:-$(id -un)}   # snakemake --slurm reads it
show=30 started=$SECONDS daemons=()   # daemons: "name pid"
chmod 755 "$tmp"
stop_daemons() {   # cancels the jobs, then stops the daemons, last first
  local i name pid waited queue
  [ ${#daemons[@]} -eq 0 ] || ! queue=$(squeue -h -o %i 2> /dev/null) || [ -z "$queue" ] || scancel $queue
  for ((i = ${#daemons[@]} - 1; i >= 0; i--)); do
    read -r name pid <<< "${daemons[i]}"
    kill -TERM "$pid" 2> /dev/null || continue
    for ((waited = 0; waited < 100; waited++)); do kill -0 "$pid" 2> /dev/null || break; sleep 0.1; done
    if kill -0 "$pid" 2> /dev/null; then
      echo "cluster_test.sh: $name (pid $pid) did not stop; killing it" >&2
      kill -KILL "$pid" 2> /dev/null
    fi
    wait "$pid" 2> /dev/null
  done
  daemons=()
}
trap 'stop_daemons; if [ "${CLUSTER_TEST_KEEP:-0}" = 1 ]; then echo "kept $tmp"; else rm -rf -- "$tmp"; fi' EXIT
trap 'exit 130' INT TERM

# wait_for SECONDS COMMAND...: until COMMAND succeeds; status 1 at timeout.
wait_for() {
  local deadline=$((SECONDS + $1))
  shift
  until "$@" > /dev/null 2>&1; do
    [ "$SECONDS" -lt "$deadline" ] || return 1
    sleep 0.5
  done
}
free_port() {   # a TCP port on 127.0.0.1 that nothing listens on
  local port
  for _ in $(seq 50); do
    port=$((20000 + RANDOM % 30000))
    (exec 3<> "/dev/tcp/127.0.0.1/$port") 2> /dev/null || { echo "$port"; return; }
  done
  return 1
}
# wait_jobs SECONDS: until the queue is empty (every job on this private
# Slurm is ours); a failing squeue means "not known yet".
wait_jobs() {
  local deadline=$((SECONDS + $1)) queue
  while ! queue=$(squeue -h -o %i 2> /dev/null) || [ -n "$queue" ]; do
    [ "$SECONDS" -lt "$deadline" ] || { echo "not done after $1 s ($(squeue -h | wc -l) jobs left)"; return 1; }
    sleep 1
  done
}
# pieces_hold_records DIR N: DIR has pieces 1..N, none empty, none more.
pieces_hold_records() {
  local k
  for ((k = 1; k <= $2; k++)); do
    grep -q '^>' "$1/piece.$k.fa" 2> /dev/null || { echo "piece $k of $2 has no record"; return 1; }
  done
  [ ! -e "$1/piece.$(($2 + 1)).fa" ] || { echo "more than $2 pieces"; return 1; }
}

start_slurm() {
  local s=$tmp/slurm node hardware ctld_port d_port
  mkdir -p "$s/munge" "$s/state" "$s/spool" "$s/log" && chmod 755 "$s" "$s/munge" || return
  # munged with a key of its own and its own socket.
  dd if=/dev/urandom of="$s/munge/munge.key" bs=1024 count=1 2> /dev/null && chmod 400 "$s/munge/munge.key" || return
  munged --foreground --force --socket="$s/munge/munge.socket" --key-file="$s/munge/munge.key" \
    --pid-file="$s/munge/munged.pid" --log-file="$s/log/munged.log" --seed-file="$s/munge/munged.seed" \
    > "$s/log/munged.out" 2>&1 &
  daemons+=("munged $!")
  munge_ok() { munge -S "$s/munge/munge.socket" -n | unmunge -S "$s/munge/munge.socket"; }
  wait_for 30 munge_ok || { echo "munged did not come up:"; cat "$s/log/munged.out"; return 1; }
  node=$(hostname -s 2> /dev/null || uname -n)
  node=${node%%.*}
  # The hardware as slurmd sees it (CPUs, sockets, cores, memory).
  hardware=$(slurmd -C 2> /dev/null | head -n 1 | sed -E 's/^NodeName=[^ ]+ ?//')
  ctld_port=$(free_port) && d_port=$(free_port) || { echo "no free TCP port"; return 1; }
  [ "$ctld_port" != "$d_port" ] || d_port=$((ctld_port + 1))
  export SLURM_CONF=$s/slurm.conf
  sed -e "s#@DIR@#$s#g; s#@NODE@#$node#g; s#@CTLD_PORT@#$ctld_port#; s#@D_PORT@#$d_port#" \
    -e "s#@HARDWARE@#${hardware:-CPUs=$(nproc)}#" "$data/slurm.conf.in" > "$SLURM_CONF"
  slurmctld -D -f "$SLURM_CONF" > "$s/log/slurmctld.out" 2>&1 &
  daemons+=("slurmctld $!")
  slurmd -D -f "$SLURM_CONF" -N "$node" > "$s/log/slurmd.out" 2>&1 &
  daemons+=("slurmd $!")
  node_idle() { [ "$(sinfo -h -n "$node" -o %T)" = idle ]; }
  if ! wait_for 90 node_idle; then
    echo "the node did not become idle: $(sinfo -h -N -o '%N %T %E' 2>&1)"
    tail -n 20 "$s"/log/* 2> /dev/null
    return 1
  fi
}

run_cases tests/recipes/cluster.tsv
if [ "$(id -u)" != 0 ]; then
  skip "Slurm steps: starting munged, slurmctld and slurmd here needs root"
elif need "Slurm steps" slurm "slurm-wlm and munge" munged munge unmunge slurmctld slurmd sbatch squeue sinfo scancel; then
  took=$SECONDS
  if start_slurm > "$tmp/slurm-start.log" 2>&1; then
    pass "single-node Slurm up in $((SECONDS - took)) s ($(sinfo -h -o '%P %D node(s) %c CPUs %T'))"
    run_cases tests/recipes/slurm.tsv
  else
    cat "$tmp/slurm-start.log"
    fail "single-node Slurm: the daemons did not come up"
  fi
  stop_daemons
fi
echo "cluster: $passed passed, $failed failed, $skipped skipped in $((SECONDS - started)) s"
[ "$failed" -eq 0 ]
