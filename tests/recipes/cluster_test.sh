#!/usr/bin/env bash
# Runs the proteome recipes of workflow/ for real and compares every joined
# result with one velcorin2 process on the same input:
#   1. tests/recipes/recipes_test.sh (splitter, join, recipes on small inputs);
#   2. parallel_run.sh (GNU parallel, blocks of 32 kB);
#   3. the Snakefile with --cores 2;
#   4. a single-node Slurm started here on localhost (munged, slurmctld and
#      slurmd with a slurm.conf written at run time into a temporary
#      directory), then slurm_array.sh as a 100-task array followed by
#      join_pieces.sh as a dependent job;
#   5. the Snakefile with --slurm on that Slurm.
# The input is the first 3,001 records of data/background.fa.gz (headers
# with '>' inside; a count for which the old recipe's awk made 97 pieces for
# 100 tasks), gzipped.  Tables are compared byte for byte; the logs after
# removing the record numbers that begin their lines (they count from 1 in
# each piece).  Where velcorin2 has --regions, --gff3 or --threads, the runs
# use them and the region table and GFF3 file are compared byte for byte too.
#
#   tests/recipes/cluster_test.sh [VELCORIN2]    (default: build/velcorin2)
#
# Builds nothing.  External tools follow the rule of tests/need_tool.sh: a
# step whose tools are missing fails, naming the Debian packages (parallel,
# snakemake; slurm-wlm and munge for steps 4-5), unless VELCORIN_SKIP_PARALLEL=1,
# VELCORIN_SKIP_SNAKEMAKE=1 or VELCORIN_SKIP_SLURM=1 says to skip it, and
# then it is reported skipped.  Steps 4-5 also need root, to start the
# daemons: run by another user they are skipped, with a message.  Daemons
# that are installed but do not come up count as a failure.  The daemons are stopped by their
# process ids when the script ends.  Set CLUSTER_TEST_KEEP=1 to keep the
# temporary directory.
set -uo pipefail
cd "$(dirname "$0")/../.."
repo=$PWD
bin=${1:-build/velcorin2}
[ -d "$bin" ] && bin=$bin/velcorin2
case $bin in /*) ;; *) bin=$repo/$bin ;; esac
if [ ! -x "$bin" ]; then
  echo "cluster_test.sh: no velcorin2 at $bin (build it, or give its path)" >&2
  exit 2
fi
export VELCORIN2=$bin
export USER=${USER:-$(id -un)}   # snakemake --slurm reads it
unset VELCORIN2_PIECES VELCORIN2_WORKDIR VELCORIN2_BLOCK PARALLEL SLURM_CONF

passed=0 failed=0 skipped=0
pass() { passed=$((passed + 1)); echo "ok    $*"; }
fail() { failed=$((failed + 1)); echo "FAIL  $*"; }
skip() { skipped=$((skipped + 1)); echo "SKIP  $*"; }
# need WHAT NAME PACKAGE [PROGRAM...]: status 0 when the tools are there;
# else a failure of WHAT, or a skip with VELCORIN_SKIP_<NAME>=1.
need() {
  local what=$1 said
  shift
  said=$(bash tests/need_tool.sh "$@") && return 0
  case $said in skipped:*) skip "$what: $said" ;; *) fail "$what: $said" ;; esac
  return 1
}
timings=()
started=$SECONDS
lap() { timings+=("$(printf '%4d s  %s' $((SECONDS - lap_start)) "$1")"); lap_start=$SECONDS; }
lap_start=$SECONDS

tmp=$(mktemp -d "${TMPDIR:-/tmp}/cluster_test.XXXXXX")
chmod 755 "$tmp"
daemons=()   # "name pid"
jobs_submitted=()
stop_daemons() {
  if [ ${#jobs_submitted[@]} -gt 0 ] && [ -n "${SLURM_CONF:-}" ]; then
    scancel "${jobs_submitted[@]}" 2> /dev/null
  fi
  local i name pid waited
  for ((i = ${#daemons[@]} - 1; i >= 0; i--)); do   # slurmd, slurmctld, munged
    read -r name pid <<< "${daemons[i]}"
    kill -TERM "$pid" 2> /dev/null || continue
    for ((waited = 0; waited < 100; waited++)); do
      kill -0 "$pid" 2> /dev/null || break
      sleep 0.1
    done
    if kill -0 "$pid" 2> /dev/null; then
      echo "cluster_test.sh: $name (pid $pid) did not stop; killing it" >&2
      kill -KILL "$pid" 2> /dev/null
    fi
    wait "$pid" 2> /dev/null
  done
  daemons=()
}
finish() {
  stop_daemons
  if [ "${CLUSTER_TEST_KEEP:-0}" = 1 ]; then echo "kept $tmp"; else rm -rf -- "$tmp"; fi
}
trap finish EXIT
trap 'exit 130' INT TERM

# A configuration with absolute paths, so runs work from any directory.
sed -E "s#^(genbnk|cctb|calib)( *= *)([^/ ][^ ]*)#\1\2$repo/\3#" data/velcorin2.conf > "$tmp/velcorin2.conf"
export VELCORIN_CONFIG=$tmp/velcorin2.conf

# ------------------------------------------------------------------ step 1
if bash tests/recipes/recipes_test.sh "$bin" > "$tmp/recipes_test.log" 2>&1; then
  pass "tests/recipes/recipes_test.sh ($(tail -n 1 "$tmp/recipes_test.log"))"
else
  cat "$tmp/recipes_test.log"
  fail "tests/recipes/recipes_test.sh"
fi
lap "tests/recipes/recipes_test.sh"

# ------------------------------------------------------- input, reference
records=3001
input=$tmp/proteome.fa.gz
gzip -cd data/background.fa.gz | awk -v r=$records '/^>/ { if (++i > r) exit } { print }' | gzip -n > "$input"
help=$("$bin" --help 2>&1)
flags=() kinds=(out coil seq) options=(-v -p 0.05)
smk_flags=()
if grep -q -- '--regions' <<< "$help"; then flags+=(--regions); kinds+=(regions.tsv); smk_flags+=(regions=true); fi
if grep -q -- '--gff3' <<< "$help"; then flags+=(--gff3); kinds+=(gff3); smk_flags+=(gff3=true); fi
threads=()
if grep -q -- '--threads' <<< "$help"; then threads=(--threads 2); smk_flags+=(extra="--threads {threads}" threads=2); fi
echo "input: $records records; velcorin2 options ${options[*]} ${threads[*]}; outputs ${kinds[*]}"

ref_words=()
[[ " ${flags[*]} " == *" --regions "* ]] && ref_words+=(--regions "$tmp/ref.regions.tsv")
[[ " ${flags[*]} " == *" --gff3 "* ]] && ref_words+=(--gff3 "$tmp/ref.gff3")
if ! "$bin" "${ref_words[@]}" "${options[@]}" "$input" "$tmp/ref.out" "$tmp/ref.coil" "$tmp/ref.seq" > "$tmp/ref.msgs" 2>&1; then
  cat "$tmp/ref.msgs"
  fail "velcorin2 on the whole input"
  exit 1
fi
lap "one velcorin2 process on the whole input"

# same GOT_PREFIX: every output kind equals the reference's (see the top).
same() {
  local got=$1 kind
  for kind in "${kinds[@]}"; do
    case $kind in
      coil | seq) cmp -s <(sed -E 's/^ *[0-9]+[ \t]//' "$tmp/ref.$kind") <(sed -E 's/^ *[0-9]+[ \t]//' "$got.$kind") ;;
      *) cmp -s "$tmp/ref.$kind" "$got.$kind" ;;
    esac || { echo "$got.$kind differs from the single run's"; return 1; }
  done
}

# ------------------------------------------------------------------ step 2
if need "parallel_run.sh" parallel parallel; then
  if VELCORIN2_BLOCK=32k workflow/parallel_run.sh "${flags[@]}" "$input" "$tmp/parallel/proteome" "${options[@]}" "${threads[@]}" > "$tmp/parallel.log" 2>&1 &&
    problem=$(same "$tmp/parallel/proteome"); then
    pass "parallel_run.sh: the outputs of one run"
  else
    tail -n 5 "$tmp/parallel.log"
    fail "parallel_run.sh: ${problem:-it failed}"
  fi
fi
lap "parallel_run.sh"

# ------------------------------------------------------------------ step 3
smk_config=(input="$input" pieces=10 velcorin2="$bin" options="${options[*]}" "${smk_flags[@]}")
if need "Snakefile --cores 2" snakemake snakemake; then
  mkdir -p "$tmp/smk-local"
  if (cd "$tmp/smk-local" && snakemake -s "$repo/workflow/Snakefile" --cores 2 --config "${smk_config[@]}" prefix=proteome) > "$tmp/smk-local.log" 2>&1 &&
    problem=$(same "$tmp/smk-local/proteome"); then
    pass "Snakefile --cores 2, 10 pieces: the outputs of one run"
  else
    tail -n 20 "$tmp/smk-local.log"
    fail "Snakefile --cores 2: ${problem:-snakemake failed}"
  fi
fi
lap "Snakefile --cores 2"

# ------------------------------------------------------------------ step 4
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

start_slurm() {
  local s=$tmp/slurm node hardware ctld_port d_port
  mkdir -p "$s/munge" "$s/state" "$s/spool" "$s/log"
  chmod 755 "$s" "$s/munge"
  # munged with a key of its own and its own socket.
  dd if=/dev/urandom of="$s/munge/munge.key" bs=1024 count=1 2> /dev/null && chmod 400 "$s/munge/munge.key" || return 1
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
  [ -n "$hardware" ] || hardware="CPUs=$(nproc)"
  ctld_port=$(free_port) && d_port=$(free_port) || { echo "no free TCP port"; return 1; }
  [ "$ctld_port" != "$d_port" ] || d_port=$((ctld_port + 1))
  cat > "$s/slurm.conf" << EOF
# A single-node Slurm on localhost for tests/recipes/cluster_test.sh; no systemd,
# no cgroups, no accounting.
ClusterName=velcorintest
SlurmctldHost=$node(127.0.0.1)
SlurmctldPort=$ctld_port
SlurmdPort=$d_port
SlurmUser=root
SlurmdUser=root
AuthType=auth/munge
CredType=cred/munge
AuthInfo=socket=$s/munge/munge.socket
StateSaveLocation=$s/state
SlurmdSpoolDir=$s/spool
SlurmctldPidFile=$s/slurmctld.pid
SlurmdPidFile=$s/slurmd.pid
SlurmctldLogFile=$s/log/slurmctld.log
SlurmdLogFile=$s/log/slurmd.log
ProctrackType=proctrack/linuxproc
TaskPlugin=task/none
JobAcctGatherType=jobacct_gather/none
AccountingStorageType=accounting_storage/none
JobCompType=jobcomp/none
MpiDefault=none
MailProg=/bin/true
SelectType=select/cons_tres
SelectTypeParameters=CR_CPU
# Start the next short job at once (by default batch jobs wait up to 3 s).
SchedulerParameters=batch_sched_delay=0,sched_min_interval=0
SlurmdParameters=config_overrides
ReturnToService=2
NodeName=$node NodeAddr=127.0.0.1 $hardware State=UNKNOWN
PartitionName=debug Nodes=$node Default=YES MaxTime=INFINITE State=UP
EOF
  export SLURM_CONF=$s/slurm.conf
  slurmctld -D -f "$SLURM_CONF" > "$s/log/slurmctld.out" 2>&1 &
  daemons+=("slurmctld $!")
  slurmd -D -f "$SLURM_CONF" -N "$node" > "$s/log/slurmd.out" 2>&1 &
  daemons+=("slurmd $!")
  node_idle() { [ "$(sinfo -h -n "$node" -o %T)" = idle ]; }
  if ! wait_for 90 node_idle; then
    echo "the node did not become idle: $(sinfo -h -N -o '%N %T %E' 2>&1)"
    tail -n 20 "$s/log/slurmctld.log" "$s/log/slurmd.log" "$s/log/slurmctld.out" "$s/log/slurmd.out" 2> /dev/null
    return 1
  fi
}

# wait_jobs SECONDS: until the queue is empty (every job on this private
# Slurm is ours); status 1 at timeout.  A failing squeue means "not known yet".
wait_jobs() {
  local deadline=$((SECONDS + $1)) queue
  while ! queue=$(squeue -h -o %i 2> /dev/null) || [ -n "$queue" ]; do
    [ "$SECONDS" -lt "$deadline" ] || return 1
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

slurm_up=0
if [ "$(id -u)" != 0 ]; then
  skip "Slurm steps: starting munged, slurmctld and slurmd here needs root"
elif ! need "Slurm steps" slurm "slurm-wlm and munge" munged munge unmunge slurmctld slurmd sbatch squeue sinfo scancel; then
  :
elif start_slurm > "$tmp/slurm-start.log" 2>&1; then
  slurm_up=1
  pass "single-node Slurm up ($(sinfo -h -o '%P %D node(s) %c CPUs %T'))"
else
  cat "$tmp/slurm-start.log"
  fail "single-node Slurm: the daemons did not come up"
fi
lap "starting munged, slurmctld, slurmd"

if [ "$slurm_up" = 1 ]; then
  mkdir -p "$tmp/array"
  array=$(cd "$tmp/array" && sbatch --parsable --array=1-100 --output=slurm-%A_%a.out \
    "$repo/workflow/slurm_array.sh" "${flags[@]}" "$input" work "${options[@]}" "${threads[@]}" 2>&1)
  array=${array%%;*}
  join=$(cd "$tmp/array" && sbatch --parsable --dependency=afterany:"$array" --output=join.out \
    "$repo/workflow/join_pieces.sh" work proteome 2>&1)
  join=${join%%;*}
  jobs_submitted+=("$array" "$join")
  if ! [[ $array =~ ^[0-9]+$ && $join =~ ^[0-9]+$ ]]; then
    fail "sbatch: $array $join"
  elif ! wait_jobs 600; then
    fail "Slurm array: not done after 10 minutes ($(squeue -h | wc -l) jobs left)"
  elif problem=$(same "$tmp/array/proteome") && problem=$(pieces_hold_records "$tmp/array/work" 100); then
    pass "Slurm array of 100 tasks, 100 pieces with records, joined by a dependent job: the outputs of one run"
  else
    cat "$tmp/array/join.out"
    fail "Slurm array: ${problem}"
  fi
  lap "Slurm: slurm_array.sh (100 tasks) + join_pieces.sh"

  if need "Snakefile --slurm" snakemake snakemake; then
    mkdir -p "$tmp/smk-slurm"
    # snakemake 7 checks Slurm jobs once in 33 s unless this is at most 1.
    if (cd "$tmp/smk-slurm" && timeout 600 snakemake -s "$repo/workflow/Snakefile" --slurm --jobs 10 \
        --latency-wait 30 --max-status-checks-per-second 1 --config "${smk_config[@]}" prefix=proteome) > "$tmp/smk-slurm.log" 2>&1 &&
      problem=$(same "$tmp/smk-slurm/proteome"); then
      pass "Snakefile --slurm, 10 pieces: the outputs of one run"
    else
      tail -n 30 "$tmp/smk-slurm.log"
      fail "Snakefile --slurm: ${problem:-snakemake failed}"
    fi
  fi
  lap "Slurm: Snakefile --slurm (10 pieces)"
  stop_daemons
  lap "stopping the daemons"
fi

echo "timings:"
printf '  %s\n' "${timings[@]}"
echo "  total $((SECONDS - started)) s"
echo "cluster: $passed passed, $failed failed, $skipped skipped"
[ "$failed" -eq 0 ]
