#!/usr/bin/env bash
# Tests of the proteome recipes in workflow/ that need no cluster daemons:
# the splitter on many record counts, the join (and its refusals) on the
# files in tests/recipes/data/join, slurm_array.sh run task by task
# outside Slurm, parallel_run.sh and the Snakefile with --cores 2; then what
# every recipe does when its input changes during a run, names that begin
# with '-', the modes of the files they create, and the rule for external
# tools in tests/need_tool.sh.
#
#   tests/recipes/recipes_test.sh [VELCORIN2]    (default: build/velcorin2)
#
# Builds nothing.  External tools follow tests/need_tool.sh: where GNU
# parallel, snakemake or gt is missing, their checks fail, naming the Debian
# package, unless VELCORIN_SKIP_PARALLEL=1, VELCORIN_SKIP_SNAKEMAKE=1 or
# VELCORIN_SKIP_GT=1 says to skip them (they are then counted as skipped).
# The region outputs
# (--regions, --gff3, --no-table) are exercised through a stand-in for
# velcorin2 that writes a region table and GFF3 of its own, so that their
# wiring through every recipe is checked whatever the program offers.
set -uo pipefail
cd "$(dirname "$0")/../.."
repo=$PWD
bin=${1:-build/velcorin2}
[ -d "$bin" ] && bin=$bin/velcorin2
case $bin in /*) ;; *) bin=$repo/$bin ;; esac
if [ ! -x "$bin" ]; then
  echo "recipes_test.sh: no velcorin2 at $bin (build it, or give its path)" >&2
  exit 2
fi

passed=0 failed=0 skipped=0
pass() { passed=$((passed + 1)); echo "ok    $*"; }
fail() { failed=$((failed + 1)); echo "FAIL  $*"; }
skip() { skipped=$((skipped + 1)); echo "skip  $*"; }

# need WHAT NAME PACKAGE [PROGRAM...]: status 0 when the tools are there;
# else a failure of WHAT, or a skip with VELCORIN_SKIP_<NAME>=1.
need() {
  local what=$1 said
  shift
  said=$(bash tests/need_tool.sh "$@") && return 0
  case $said in skipped:*) skip "$what: $said" ;; *) fail "$what: $said" ;; esac
  return 1
}

# modes FILE...: names each file whose mode is not 0600 (a directory: 0700),
# the modes of what velcorin2 and the recipes create.
modes() {
  local f mode
  for f in "$@"; do
    mode=$(stat -c %a -- "$f") || continue
    if [ -d "$f" ]; then [ "$mode" = 700 ] || echo "$f has mode $mode"; else [ "$mode" = 600 ] || echo "$f has mode $mode"; fi
  done
}

tmp=$(mktemp -d "${TMPDIR:-/tmp}/recipes_test.XXXXXX")
trap 'rm -rf -- "$tmp"' EXIT
export LC_ALL=C
umask 022   # the recipes' files must be private whatever the umask

# A configuration with absolute paths, so runs work from any directory.
sed -E "s#^(genbnk|cctb|calib)( *= *)([^/ ][^ ]*)#\1\2$repo/\3#" data/velcorin2.conf > "$tmp/velcorin2.conf"
export VELCORIN_CONFIG=$tmp/velcorin2.conf
unset VELCORIN2_PIECES VELCORIN2_WORKDIR VELCORIN2_BLOCK PARALLEL

# first_records R FILE: the first R records of data/background.fa.gz, whose
# headers contain '>' ("<UNP ...>").
gzip -cd data/background.fa.gz > "$tmp/background.fa"
first_records() { awk -v r="$1" '/^>/ { if (++i > r) exit } { print }' "$tmp/background.fa" > "$2"; }

# ---------------------------------------------------------------- splitter
# check_split INPUT_PLAIN N DIR: exactly N pieces piece.1..N that concatenate
# line by line to the input, each cut at a record start; with R >= N none
# empty and none larger than its share (bytes / N) by more than the longest
# record; with R < N, pieces 1..R one record each and the rest empty.
# Prints what is wrong, nothing when all holds.
check_split() {
  local input=$1 n=$2 dir=$3 files
  files=("$dir"/piece.*.fa)
  [ "${#files[@]}" -eq "$n" ] || { echo "${#files[@]} pieces, not $n"; return; }
  awk -v n="$n" -v dir="$dir" '
    /^>/ { r++; if (size > longest) longest = size; size = 0 }
    { size += length($0) + 1; total += length($0) + 1; line[NR] = $0 }
    END {
      if (size > longest) longest = size
      for (k = 1; k <= n; k++) {
        f = dir "/piece." k ".fa"; bytes = 0; recs = 0; first = 1
        while ((status = (getline l < f)) > 0) {
          if (first && l !~ /^>/ && k > 1) { print "piece " k " does not begin with a record"; exit }
          first = 0
          if (l != line[++at]) { print "piece " k " differs from the input at line " at; exit }
          if (l ~ /^>/) recs++
          bytes += length(l) + 1
        }
        if (status < 0) { print "no piece " k; exit }
        close(f)
        if (r >= n && recs == 0) { print "piece " k " is empty"; exit }
        if (r >= n && bytes > total / n + longest) { print "piece " k " has " bytes " bytes"; exit }
        if (r < n && recs != (k <= r ? 1 : 0)) { print "piece " k " has " recs " records"; exit }
      }
      if (at != NR) print "the pieces hold " at " of " NR " lines"
    }' "$input"
}

# Every count from 1 to 300 records into 7 pieces; into 1, 2 and 100 pieces
# the counts around the piece count (fewer records than pieces, as many,
# one more) and at two and three times it.  (Each split costs a few
# processes: every count for every N would take minutes.)
declare -A split_bad=() counts=([1]="1-10" [2]="1-50" [7]="1-300" [100]="1-120 199-201 299-300")
wanted() {   # wanted R N: R is one of the counts tried with N pieces
  local range
  for range in ${counts[$2]}; do
    [ "$1" -ge "${range%-*}" ] && [ "$1" -le "${range#*-}" ] && return 0
  done
  return 1
}
for ((r = 1; r <= 300; r++)); do
  first_records "$r" "$tmp/in.fa"
  for n in 1 2 7 100; do
    wanted "$r" "$n" || continue
    [ -n "${split_bad[$n]:-}" ] && continue
    rm -rf "$tmp/s"
    workflow/split_fasta.sh "$n" "$tmp/in.fa" "$tmp/s" || { split_bad[$n]="$r records: status $?"; continue; }
    problem=$(check_split "$tmp/in.fa" "$n" "$tmp/s")
    [ -z "$problem" ] || split_bad[$n]="$r records: $problem"
  done
done
for n in 1 2 7 100; do
  if [ -z "${split_bad[$n]:-}" ]; then pass "split_fasta.sh: ${counts[$n]} records into $n pieces"; else fail "split_fasta.sh into $n pieces: ${split_bad[$n]}"; fi
done

# Larger inputs, .gz input and standard input.
for case in "3001 100" "9332 7" "9332 100"; do
  set -- $case
  first_records "$1" "$tmp/in.fa"
  gzip -c "$tmp/in.fa" > "$tmp/in.fa.gz"
  rm -rf "$tmp/s"
  workflow/split_fasta.sh "$2" "$tmp/in.fa.gz" "$tmp/s" && problem=$(check_split "$tmp/in.fa" "$2" "$tmp/s") || problem="status $?"
  if [ -z "$problem" ]; then pass "split_fasta.sh: $1 records (.gz) into $2 pieces"; else fail "split_fasta.sh: $1 records (.gz) into $2 pieces: $problem"; fi
done
rm -rf "$tmp/s2"
workflow/split_fasta.sh 100 - "$tmp/s2" < "$tmp/in.fa" && cmp -s <(cat "$tmp"/s/piece.{1..100}.fa) <(cat "$tmp"/s2/piece.{1..100}.fa) &&
  pass "split_fasta.sh: standard input cut as the file" || fail "split_fasta.sh: standard input cut differently"

# --piece K gives piece K of the same cut, for every K.
first_records 3001 "$tmp/in.fa"
rm -rf "$tmp/s" && workflow/split_fasta.sh 100 "$tmp/in.fa" "$tmp/s"
bad=
for ((k = 1; k <= 100; k++)); do
  workflow/split_fasta.sh --piece "$k" 100 "$tmp/in.fa" | cmp -s - "$tmp/s/piece.$k.fa" || { bad=$k; break; }
done
[ -z "$bad" ] && pass "split_fasta.sh --piece K 100: the pieces of the whole cut" || fail "split_fasta.sh --piece $bad 100 differs from the whole cut"

# Lines before the first record go to piece 1; a last line without newline
# gets one.
printf 'no record yet\n>a x>y\nAAAA\n>b\nCC' > "$tmp/odd.fa"
rm -rf "$tmp/s" && workflow/split_fasta.sh 2 "$tmp/odd.fa" "$tmp/s" &&
  [ "$(cat "$tmp/s/piece.1.fa")" = $'no record yet\n>a x>y\nAAAA' ] && [ "$(cat "$tmp/s/piece.2.fa")" = $'>b\nCC' ] &&
  pass "split_fasta.sh: text before the first record, no final newline" || fail "split_fasta.sh: text before the first record, no final newline"
bad=
for args in "0 $tmp/odd.fa $tmp/s" "x $tmp/odd.fa $tmp/s" "2 $tmp/none.fa $tmp/s" "--piece 3 2 $tmp/odd.fa" "--piece 0 2 $tmp/odd.fa"; do
  workflow/split_fasta.sh $args > /dev/null 2>&1
  [ $? -eq 2 ] || bad="$bad [$args]"
done
[ -z "$bad" ] && pass "split_fasta.sh: bad arguments give status 2" || fail "split_fasta.sh: bad arguments accepted:$bad"

# slurm_array.sh carries its own copy of the cutting code and of the code
# that records and checks the input (it must work after sbatch has copied
# it away): the copies must be the same text.
block() { sed -n "/^# >>> $2/,/^# <<< $2/p" "$1"; }
for pair in "split_fasta split_fasta.sh" "input_identity join_pieces.sh"; do
  set -- $pair
  if [ -n "$(block "workflow/$2" "$1")" ] && cmp -s <(block "workflow/$2" "$1") <(block workflow/slurm_array.sh "$1"); then
    pass "slurm_array.sh has the $1 code of $2"
  else
    fail "slurm_array.sh and $2 differ between '# >>> $1' and '# <<< $1'"
  fi
done

# -------------------------------------------------------------------- join
fixture=tests/recipes/data/join
kinds=(out coil seq regions.tsv gff3)
fresh() { rm -rf "$tmp/j"; cp -r "$fixture" "$tmp/j"; }
fresh
if workflow/join_pieces.sh "$tmp/j" "$tmp/j/got" 2> "$tmp/err"; then
  bad=
  for kind in "${kinds[@]}"; do cmp -s "$tmp/j/got.$kind" "$fixture/expected.$kind" || bad="$bad $kind"; done
  [ -z "$bad" ] && pass "join_pieces.sh: table, logs, region table and GFF3 as expected" || fail "join_pieces.sh: differs from $fixture/expected.*:$bad"
  problem=$(modes "$tmp"/j/got.*)
  [ -z "$problem" ] && pass "join_pieces.sh: the joined files are private (0600)" || fail "join_pieces.sh: $problem"
else
  fail "join_pieces.sh on $fixture: $(cat "$tmp/err")"
fi
if need "GFF3 validation of the join" gt genometools; then
  gt gff3validator "$tmp/j/got.gff3" > /dev/null 2>&1 && pass "joined GFF3 passes gt gff3validator" || fail "joined GFF3 fails gt gff3validator"
fi

# refused "WHAT" SETUP [JOIN OPTIONS]: after SETUP on a fresh copy of the
# fixture the join must fail with status 1, say why, and write nothing.
refused() {
  local what=$1 setup=$2
  shift 2
  fresh
  (cd "$tmp/j" && eval "$setup")
  workflow/join_pieces.sh "$@" "$tmp/j" "$tmp/j/got" 2> "$tmp/err"
  local status=$?
  if [ "$status" -eq 1 ] && [ -s "$tmp/err" ] && ! compgen -G "$tmp/j/got.*" > /dev/null; then
    pass "join_pieces.sh refuses: $what"
  else
    fail "join_pieces.sh, $what: status $status, wrote $(cd "$tmp/j" && echo got.*)"
  fi
}
refused "a piece without status" 'rm piece.3.status'
refused "a piece with status 2" 'echo 2 > piece.2.status'
refused "a piece with an empty status" ': > piece.2.status'
refused "status 0 but no coil log" 'rm piece.2.coil'
refused "status 0 but no region table" 'rm piece.3.regions.tsv'
refused "a piece beyond the piece count" 'cp piece.1.status piece.5.status'
refused "-n other than the run's" '' -n 3
refused "--no-table where the run has a table" '' --no-table
refused "no run file and no -n" 'rm run'
refused "region tables with different headers" "sed -i '1s/p_score/score/' piece.3.regions.tsv"
refused "a GFF3 piece without its version line" "sed -i 1d piece.3.gff3"
fresh
rm "$tmp/j/run"
workflow/join_pieces.sh -n 4 "$tmp/j" "$tmp/j/got" 2> /dev/null && cmp -s "$tmp/j/got.out" "$fixture/expected.out" &&
  [ ! -e "$tmp/j/got.regions.tsv" ] && pass "join_pieces.sh -n 4 without a run file: table and logs only" ||
  fail "join_pieces.sh -n 4 without a run file"

# ----------------------------------------------------- recipes on velcorin2
# same REF GOT KINDS...: GOT.KIND equals REF.KIND for every kind, byte for
# byte, except that the logs are compared without the record numbers that
# begin their lines (they count from 1 in each piece).
same() {
  local ref=$1 got=$2 kind
  shift 2
  for kind in "$@"; do
    case $kind in
      coil | seq) cmp -s <(sed -E 's/^ *[0-9]+[ \t]//' "$ref.$kind") <(sed -E 's/^ *[0-9]+[ \t]//' "$got.$kind") ;;
      *) cmp -s "$ref.$kind" "$got.$kind" ;;
    esac || { echo "$got.$kind differs from $ref.$kind"; return 1; }
  done
}

# A stand-in for velcorin2 with the region outputs: it takes --regions FILE,
# --gff3 FILE, --no-table and --threads N off its arguments, runs velcorin2
# on the rest (the table to /dev/null with --no-table), and writes one region
# a record (the whole record) to FILE.
cat > "$tmp/regions_velcorin2" << EOF
#!/usr/bin/env bash
regions= gff3= table=1 args=()
while [ \$# -gt 0 ]; do
  case \$1 in
    --regions) regions=\$2; shift 2 ;;
    --gff3) gff3=\$2; shift 2 ;;
    --no-table) table=0; shift ;;
    --threads) case \$2 in *[!0-9]* | '') echo "bad --threads \$2"; exit 2 ;; esac; shift 2 ;;
    *) args+=("\$1"); shift ;;
  esac
done
for ((i = 0; i < \${#args[@]}; i++)); do
  case \${args[i]} in *.fa | *.fa.gz) seqs=\${args[i]}; break ;; esac
done
[ "\$table" = 1 ] || args=("\${args[@]:0:i+1}" /dev/null "\${args[@]:i+1}")
"$bin" "\${args[@]}" || exit
lengths() { gzip -cdf -- "\$seqs" | awk '/^>/ { if (n) print n, len; n = substr(\$1, 2); len = 0; next } { len += length(\$0) } END { if (n) print n, len }'; }
if [ -n "\$regions" ]; then
  { printf 'sequence\tstart\tend\n'; lengths | awk '{ print \$1 "\t1\t" \$2 }'; } > "\$regions"
fi
if [ -n "\$gff3" ]; then
  { echo '##gff-version 3'; lengths | awk '{ print "##sequence-region " \$1 " 1 " \$2; print \$1 "\tstand-in\tcoiled_coil\t1\t" \$2 "\t.\t.\t.\tID=" \$1 }'; } > "\$gff3"
fi
EOF
chmod +x "$tmp/regions_velcorin2"

first_records 60 "$tmp/small.fa"
gzip -c "$tmp/small.fa" > "$tmp/small.fa.gz"
"$bin" -v -p 0.05 "$tmp/small.fa.gz" "$tmp/ref.out" "$tmp/ref.coil" "$tmp/ref.seq" > /dev/null 2>&1 || fail "velcorin2 on $tmp/small.fa.gz"
"$tmp/regions_velcorin2" --regions "$tmp/ref.regions.tsv" --gff3 "$tmp/ref.gff3" --no-table -v -p 0.05 "$tmp/small.fa" "$tmp/ref.coil2" "$tmp/ref.seq2" > /dev/null 2>&1 ||
  fail "the stand-in velcorin2 on $tmp/small.fa"

# slurm_array.sh, task by task, without Slurm.
array_task() {   # array_task K N [MIN MAX] -- slurm_array.sh arguments
  local k=$1 n=$2 min=1 max=$2
  shift 2
  [ "$1" != -- ] && { min=$1 max=$2; shift 2; }
  shift
  SLURM_ARRAY_TASK_ID=$k SLURM_ARRAY_TASK_COUNT=$n SLURM_ARRAY_TASK_MIN=$min SLURM_ARRAY_TASK_MAX=$max \
    "$repo/workflow/slurm_array.sh" "$@" > /dev/null 2>&1
}
bad=
for k in 1 2 3 4 5 6 7; do
  VELCORIN2=$bin array_task "$k" 7 -- "$tmp/small.fa.gz" "$tmp/a" -v -p 0.05 || bad="$bad task $k: status $?"
done
if [ -z "$bad" ] && workflow/join_pieces.sh "$tmp/a" "$tmp/a/got" 2> /dev/null && problem=$(same "$tmp/ref" "$tmp/a/got" out coil seq); then
  pass "slurm_array.sh, 7 tasks, joined: the outputs of one run"
else
  fail "slurm_array.sh, 7 tasks:${bad:- ${problem:-the join failed}}"
fi
problem=$(modes "$tmp/a" "$tmp"/a/*)
[ -z "$problem" ] && pass "slurm_array.sh: the work directory and every file in it are private" || fail "slurm_array.sh: $problem"
VELCORIN2=$bin array_task 1 4 -- "$tmp/small.fa.gz" "$tmp/a" -v -p 0.05
[ $? -eq 2 ] && pass "slurm_array.sh refuses a work directory of another run" || fail "slurm_array.sh took a work directory of another run"
VELCORIN2=$bin array_task 1 7 0 6 -- "$tmp/small.fa.gz" "$tmp/b"
[ $? -eq 2 ] && [ ! -e "$tmp/b/piece.1.status" ] && pass "slurm_array.sh refuses an array 0-6" || fail "slurm_array.sh ran in an array 0-6"
VELCORIN2=$tmp/none array_task 1 7 -- "$tmp/small.fa.gz" "$tmp/c"
[ $? -eq 2 ] && pass "slurm_array.sh: a missing velcorin2 is reported" || fail "slurm_array.sh: a missing velcorin2 went unnoticed"
printf '>a\nAAA#AAA\n>b\nCC#C\n' > "$tmp/bad.fa"   # velcorin2 refuses '#': status 255
rm -rf "$tmp/d"
VELCORIN2=$bin array_task 1 2 -- "$tmp/bad.fa" "$tmp/d"
VELCORIN2=$bin array_task 2 2 -- "$tmp/bad.fa" "$tmp/d"
workflow/join_pieces.sh "$tmp/d" "$tmp/d/got" 2> /dev/null
[ $? -eq 1 ] && [ "$(cat "$tmp/d/piece.1.status")" != 0 ] && pass "slurm_array.sh records a failed piece; the join refuses" ||
  fail "slurm_array.sh: a failed piece was not recorded or joined anyway"
bad=
for k in 1 2 3; do
  VELCORIN2=$tmp/regions_velcorin2 array_task "$k" 3 -- --regions --gff3 --no-table "$tmp/small.fa.gz" "$tmp/e" -v -p 0.05 || bad="$bad task $k"
done
if [ -z "$bad" ] && workflow/join_pieces.sh "$tmp/e" "$tmp/e/got" 2> /dev/null && [ ! -e "$tmp/e/got.out" ] &&
  cp "$tmp/ref.coil2" "$tmp/ref2.coil" && cp "$tmp/ref.seq2" "$tmp/ref2.seq" && cp "$tmp/ref.regions.tsv" "$tmp/ref2.regions.tsv" && cp "$tmp/ref.gff3" "$tmp/ref2.gff3" &&
  problem=$(same "$tmp/ref2" "$tmp/e/got" coil seq regions.tsv gff3); then
  pass "slurm_array.sh --regions --gff3 --no-table, joined: the outputs of one run"
else
  fail "slurm_array.sh --regions --gff3 --no-table:${bad:- ${problem:-the join failed}}"
fi

# parallel_run.sh, blocks of 8 kB: many cuts, headers with '>' inside.
if need "parallel_run.sh" parallel parallel; then
  if VELCORIN2=$bin VELCORIN2_BLOCK=8k workflow/parallel_run.sh "$tmp/small.fa.gz" "$tmp/p" -v -p 0.05 2> "$tmp/err" &&
    problem=$(same "$tmp/ref" "$tmp/p" out coil seq) && [ ! -e "$tmp/p.pieces" ] && problem=$(modes "$tmp"/p.*) && [ -z "$problem" ]; then
    pass "parallel_run.sh, 8 kB blocks: the outputs of one run, private"
  else
    fail "parallel_run.sh: ${problem:-$(tail -n 3 "$tmp/err")}"
  fi
  if VELCORIN2=$tmp/regions_velcorin2 VELCORIN2_BLOCK=8k workflow/parallel_run.sh --regions --gff3 --no-table "$tmp/small.fa" "$tmp/p2" -v -p 0.05 2> "$tmp/err" &&
    [ ! -e "$tmp/p2.out" ] && problem=$(same "$tmp/ref2" "$tmp/p2" coil seq regions.tsv gff3); then
    pass "parallel_run.sh --regions --gff3 --no-table: the outputs of one run"
  else
    fail "parallel_run.sh --regions --gff3 --no-table: ${problem:-$(tail -n 3 "$tmp/err")}"
  fi
  VELCORIN2=$bin workflow/parallel_run.sh "$tmp/bad.fa" "$tmp/p3" > /dev/null 2>&1
  [ $? -ne 0 ] && [ ! -e "$tmp/p3.out" ] && pass "parallel_run.sh: a failed block stops the join" || fail "parallel_run.sh joined after a failed block"
fi

# The Snakefile with --cores 2.
if need "Snakefile" snakemake snakemake; then
  smk() { (cd "$tmp" && snakemake -s "$repo/workflow/Snakefile" --cores 2 --quiet "$@") > "$tmp/smk.log" 2>&1; }
  if smk --config input="$tmp/small.fa.gz" prefix=s/small pieces=7 velcorin2="$bin" options="-v -p 0.05" &&
    problem=$(same "$tmp/ref" "$tmp/s/small" out coil seq); then
    pass "Snakefile, --cores 2, 7 pieces: the outputs of one run"
  else
    fail "Snakefile, --cores 2: ${problem:-$(tail -n 5 "$tmp/smk.log")}"
  fi
  problem=$(modes "$tmp"/s/small.*[a-z])
  [ -z "$problem" ] && pass "Snakefile: the joined files are private" || fail "Snakefile: $problem"
  [ ! -e "$tmp/s/small.pieces" ] && pass "Snakefile: the pieces, their messages and the work directory are gone once joined" ||
    fail "Snakefile: left after the join: $tmp/s/small.pieces with $(ls -A "$tmp/s/small.pieces" | head -n 3 | tr '\n' ' ')"
  if smk --config input="$tmp/small.fa" prefix=s/regions pieces=3 velcorin2="$tmp/regions_velcorin2" options="-v -p 0.05" \
      extra="--threads {threads}" threads=2 regions=true gff3=true table=false &&
    [ ! -e "$tmp/s/regions.out" ] && problem=$(same "$tmp/ref2" "$tmp/s/regions" coil seq regions.tsv gff3); then
    pass "Snakefile with regions, GFF3, no table and --threads {threads}: the outputs of one run"
  else
    fail "Snakefile with regions: ${problem:-$(tail -n 5 "$tmp/smk.log")}"
  fi
  first_records 5 "$tmp/five.fa"
  "$bin" "$tmp/five.fa" "$tmp/five.out" "$tmp/five.coil" "$tmp/five.seq" > /dev/null 2>&1
  if smk --config input="$tmp/five.fa" prefix=s/five pieces=8 velcorin2="$bin" &&
    problem=$(same "$tmp/five" "$tmp/s/five" out coil seq); then
    pass "Snakefile, 5 records in 8 pieces (3 empty): the outputs of one run"
  else
    fail "Snakefile, 5 records in 8 pieces: ${problem:-$(tail -n 5 "$tmp/smk.log")}"
  fi
  if ! smk --config input="$tmp/bad.fa" prefix=s/bad pieces=2 velcorin2="$bin" && [ ! -e "$tmp/s/bad.out" ] &&
    [ -s "$tmp/s/bad.pieces/piece.1.msgs" ]; then
    pass "Snakefile: a failed piece stops the join; its messages stay"
  else
    fail "Snakefile joined after a failed piece"
  fi
fi

# --------------------------------------------- an input that changes
# A run records its input (size, modification time, CRC) when it starts;
# a task or a join on an input changed since refuses, naming it, and writes
# nothing: pieces cut before and after the change would join into a result
# of no input.
# mentions FILE TEXT: FILE holds TEXT.
mentions() { grep -qF -- "$2" "$1"; }
# run_tasks INPUT WORKDIR N K...: slurm_array.sh tasks K... of N, each
# with VELCORIN2 as set; prints the tasks that failed.
run_tasks() {
  local input=$1 work=$2 n=$3 k
  shift 3
  for k in "$@"; do array_task "$k" "$n" -- "$input" "$work" -v -p 0.05 || echo -n " $k"; done
}

# The documented rerun after a failed piece: ten tasks, piece 7 failing on
# a '#'; the record is deleted from the input and task 7 run again.
first_records 200 "$tmp/id.fa"
header=$(workflow/split_fasta.sh --piece 7 10 "$tmp/id.fa" | head -n 1)
awk -v h="$header" '{ print } $0 == h { getline; print "#" $0 }' "$tmp/id.fa" > "$tmp/id.tmp" && mv "$tmp/id.tmp" "$tmp/id.fa"
rm -rf "$tmp/id"
failed_tasks=$(VELCORIN2=$bin run_tasks "$tmp/id.fa" "$tmp/id" 10 1 2 3 4 5 6 7 8 9 10)
if [ "$failed_tasks" != " 7" ]; then
  fail "input change: the setup expected task 7 of 10 to fail, not:${failed_tasks:- none}"
else
  awk -v h="$header" '$0 == h { drop = 1; next } /^>/ { drop = 0 } !drop' "$tmp/id.fa" > "$tmp/id.tmp" && mv "$tmp/id.tmp" "$tmp/id.fa"
  VELCORIN2=$bin VELCORIN2_PIECES=10 SLURM_ARRAY_TASK_ID=7 workflow/slurm_array.sh "$tmp/id.fa" "$tmp/id" -v -p 0.05 > /dev/null 2> "$tmp/err"
  status=$?
  if [ "$status" -eq 2 ] && mentions "$tmp/err" "input $tmp/id.fa" && [ "$(cat "$tmp/id/piece.7.status")" != 0 ]; then
    pass "slurm_array.sh: a task run again on an edited input refuses, naming it"
  else
    fail "slurm_array.sh ran a task on an edited input: status $status, $(head -c 300 "$tmp/err")"
  fi
  workflow/join_pieces.sh "$tmp/id" "$tmp/id/got" 2> "$tmp/err"
  status=$?
  if [ "$status" -eq 1 ] && mentions "$tmp/err" "input $tmp/id.fa" && ! compgen -G "$tmp/id/got.*" > /dev/null; then
    pass "join_pieces.sh refuses the pieces of an edited input, naming it, and writes nothing"
  else
    fail "join_pieces.sh on an edited input: status $status, wrote $(cd "$tmp/id" && echo got.*)"
  fi
fi

# A task that failed for a reason of its own runs again on the same input
# and the join goes through; then the input is changed in ways that keep
# its size, and its time too, then touched, then removed.
first_records 30 "$tmp/id2.fa"
"$bin" -v -p 0.05 "$tmp/id2.fa" "$tmp/id2.out" "$tmp/id2.coil" "$tmp/id2.seq" > /dev/null 2>&1
printf '#!/bin/sh\necho "no licence today" >&2\nexit 3\n' > "$tmp/failing_velcorin2"
chmod +x "$tmp/failing_velcorin2"
rm -rf "$tmp/id2"
bad=$(VELCORIN2=$bin run_tasks "$tmp/id2.fa" "$tmp/id2" 3 1 3)$(VELCORIN2=$tmp/failing_velcorin2 run_tasks "$tmp/id2.fa" "$tmp/id2" 3 2)
VELCORIN2=$bin VELCORIN2_PIECES=3 SLURM_ARRAY_TASK_ID=2 workflow/slurm_array.sh "$tmp/id2.fa" "$tmp/id2" -v -p 0.05 > /dev/null 2>&1 || bad="$bad rerun of 2"
if [ "$bad" = " 2" ] && workflow/join_pieces.sh "$tmp/id2" "$tmp/id2/got" 2> /dev/null && problem=$(same "$tmp/id2" "$tmp/id2/got" out coil seq); then
  pass "slurm_array.sh: a failed task run again on the same input; the join is one run's"
else
  fail "slurm_array.sh, a task run again on the same input:${problem:- failed tasks$bad}"
fi
cp -p "$tmp/id2.fa" "$tmp/id2.keep"
sed -i '2y/ACDEFGHIKLMNPQRSTVWY/CDEFGHIKLMNPQRSTVWYA/' "$tmp/id2.fa"   # the same size
touch -r "$tmp/id2.keep" "$tmp/id2.fa"                                # and time
rm -f "$tmp"/id2/got.*
workflow/join_pieces.sh "$tmp/id2" "$tmp/id2/got" 2> "$tmp/err"
status=$?
[ "$status" -eq 1 ] && mentions "$tmp/err" "input $tmp/id2.fa" && mentions "$tmp/err" CRC && ! compgen -G "$tmp/id2/got.*" > /dev/null &&
  pass "join_pieces.sh refuses an input edited with its size and time kept (the CRC differs)" ||
  fail "join_pieces.sh, an input edited with its size and time kept: status $status, $(head -c 300 "$tmp/err")"
VELCORIN2=$bin VELCORIN2_PIECES=3 SLURM_ARRAY_TASK_ID=2 workflow/slurm_array.sh "$tmp/id2.fa" "$tmp/id2" -v -p 0.05 > /dev/null 2> "$tmp/err"
status=$?
[ "$status" -eq 2 ] && mentions "$tmp/err" "input $tmp/id2.fa" && [ "$(cat "$tmp/id2/piece.2.status")" = 0 ] &&
  pass "slurm_array.sh refuses an input edited with its size and time kept, and leaves its piece alone" ||
  fail "slurm_array.sh, an input edited with its size and time kept: status $status, $(head -c 300 "$tmp/err")"
cp -p "$tmp/id2.keep" "$tmp/id2.fa"
workflow/join_pieces.sh "$tmp/id2" "$tmp/id2/got" 2> /dev/null && problem=$(same "$tmp/id2" "$tmp/id2/got" out coil seq) &&
  pass "join_pieces.sh: the input put back as it was joins" || fail "join_pieces.sh, the input put back as it was:${problem:- refused}"
rm -f "$tmp"/id2/got.*
touch -d '1 hour ago' "$tmp/id2.fa"
workflow/join_pieces.sh "$tmp/id2" "$tmp/id2/got" 2> "$tmp/err"
status=$?
[ "$status" -eq 1 ] && mentions "$tmp/err" "input $tmp/id2.fa" && ! compgen -G "$tmp/id2/got.*" > /dev/null &&
  pass "join_pieces.sh refuses an input with another modification time" || fail "join_pieces.sh, an input with another time: status $status"
rm -f "$tmp/id2.fa"
workflow/join_pieces.sh "$tmp/id2" "$tmp/id2/got" 2> "$tmp/err"
status=$?
[ "$status" -eq 1 ] && mentions "$tmp/err" "input $tmp/id2.fa" && ! compgen -G "$tmp/id2/got.*" > /dev/null &&
  pass "join_pieces.sh refuses when the input is gone" || fail "join_pieces.sh, the input gone: status $status"
cp -p "$tmp/id2.keep" "$tmp/id2.fa"
refused "a run file that records another input" "printf 'input=%s\ninput_size=1\ninput_mtime=1\ninput_cksum=1\n' '$tmp/id2.fa' >> run"

# parallel_run.sh and the Snakefile, with a velcorin2 whose first run
# appends a record to the input while the others score theirs.
printf '#!/usr/bin/env bash\nif mkdir "$EDIT_MARK" 2> /dev/null; then printf ">late\\nMKLEELLKKNEELEKKVAELEKENAELKKKLEELEKKLAEL\\n" >> "$EDIT_INPUT"; fi\nexec "%s" "$@"\n' \
  "$bin" > "$tmp/editing_velcorin2"
chmod +x "$tmp/editing_velcorin2"
if need "parallel_run.sh, an input edited during the run" parallel parallel; then
  first_records 60 "$tmp/pe.fa"
  EDIT_INPUT=$tmp/pe.fa EDIT_MARK=$tmp/pe.mark VELCORIN2=$tmp/editing_velcorin2 VELCORIN2_BLOCK=8k \
    workflow/parallel_run.sh "$tmp/pe.fa" "$tmp/pe" -v -p 0.05 > /dev/null 2> "$tmp/err"
  status=$?
  if [ -d "$tmp/pe.mark" ] && [ "$status" -ne 0 ] && mentions "$tmp/err" "input $tmp/pe.fa" && [ ! -e "$tmp/pe.out" ] && [ ! -e "$tmp/pe.coil" ]; then
    pass "parallel_run.sh refuses to join an input edited during the run, naming it"
  else
    fail "parallel_run.sh, an input edited during the run: status $status, wrote $(cd "$tmp" && echo pe.out pe.coil)"
  fi
fi
if need "Snakefile, an input edited during the run" snakemake snakemake; then
  first_records 60 "$tmp/se.fa"
  if EDIT_INPUT=$tmp/se.fa EDIT_MARK=$tmp/se.mark smk --config input="$tmp/se.fa" prefix=s/edited pieces=3 velcorin2="$tmp/editing_velcorin2" ||
    [ ! -d "$tmp/se.mark" ] || [ -e "$tmp/s/edited.out" ] || ! mentions "$tmp/smk.log" "input $tmp/se.fa"; then
    fail "Snakefile joined an input edited during the run"
  else
    pass "Snakefile: the join refuses an input edited during the run, naming it"
  fi
  "$bin" "$tmp/se.fa" "$tmp/se.out" "$tmp/se.coil" "$tmp/se.seq" > /dev/null 2>&1
  smk --config input="$tmp/se.fa" prefix=s/edited pieces=3 velcorin2="$bin" && problem=$(same "$tmp/se" "$tmp/s/edited" out coil seq) &&
    pass "Snakefile run again after the edit: the outputs of one run on the edited input" ||
    fail "Snakefile run again after the edit: ${problem:-$(tail -n 5 "$tmp/smk.log")}"
fi

# ------------------------------------------- names that begin with '-'
mkdir -p "$tmp/dash"
cp "$tmp/small.fa" "$tmp/dash/-in.fa"
bad=
(cd "$tmp/dash" && for k in 1 2 3; do VELCORIN2=$bin array_task "$k" 3 -- -- -in.fa -wd -v -p 0.05 || exit; done) || bad="tasks: status $?"
if [ -z "$bad" ] && (cd "$tmp/dash" && "$repo/workflow/join_pieces.sh" -- -wd -res 2> /dev/null) && problem=$(same "$tmp/ref" "$tmp/dash/-res" out coil seq); then
  pass "slurm_array.sh and join_pieces.sh: input -in.fa, WORKDIR -wd, PREFIX -res"
else
  fail "slurm_array.sh and join_pieces.sh with names that begin with '-': ${bad:-${problem:-the join failed}}"
fi
mkdir -p "$tmp/dash/-t"
if (cd "$tmp/dash" && TMPDIR=-t "$repo/workflow/split_fasta.sh" 3 - -pieces < -in.fa 2> /dev/null) &&
  cat "$tmp"/dash/-pieces/piece.{1,2,3}.fa | cmp -s - "$tmp/small.fa"; then
  pass "split_fasta.sh: standard input with TMPDIR=-t into -pieces"
else
  fail "split_fasta.sh with TMPDIR=-t and DIR -pieces"
fi
if need "parallel_run.sh with names that begin with '-'" parallel parallel; then
  (cd "$tmp/dash" && VELCORIN2=$bin VELCORIN2_BLOCK=8k "$repo/workflow/parallel_run.sh" -- -in.fa -par -v -p 0.05 > /dev/null 2>&1) &&
    problem=$(same "$tmp/ref" "$tmp/dash/-par" out coil seq) && pass "parallel_run.sh -- -in.fa -par" ||
    fail "parallel_run.sh -- -in.fa -par: ${problem:-it failed}"
fi
if need "Snakefile with names that begin with '-'" snakemake snakemake; then
  (cd "$tmp/dash" && snakemake -s "$repo/workflow/Snakefile" --cores 2 --quiet --config input=-in.fa prefix=-smk pieces=3 velcorin2="$bin" \
    options="-v -p 0.05" > "$tmp/smk.log" 2>&1) && problem=$(same "$tmp/ref" "$tmp/dash/-smk" out coil seq) &&
    pass "Snakefile: input=-in.fa prefix=-smk" || fail "Snakefile, input=-in.fa prefix=-smk: ${problem:-$(tail -n 5 "$tmp/smk.log")}"
fi

# ----------------------------------------- parallel_run.sh block sizes
# The blocks follow the input's size and the job count: all of
# data/background.fa.gz (3.3 MB of text) makes one block per job.
if need "parallel_run.sh block sizes" parallel parallel; then
  "$bin" --no-table -v -p 0.05 "$tmp/background.fa" "$tmp/bg.coil" "$tmp/bg.seq" > /dev/null 2>&1
  for jobs in 2 3; do
    VELCORIN2=$bin workflow/parallel_run.sh --jobs "$jobs" --no-table "$tmp/background.fa" "$tmp/bg$jobs" -v -p 0.05 > /dev/null 2> "$tmp/err"
    status=$?
    if [ "$status" -eq 0 ] && mentions "$tmp/err" "joined $jobs piece(s)" && problem=$(same "$tmp/bg" "$tmp/bg$jobs" coil seq); then
      pass "parallel_run.sh --jobs $jobs: 3.3 MB in $jobs blocks, the outputs of one run"
    else
      fail "parallel_run.sh --jobs $jobs on 3.3 MB: status $status, ${problem:-$(tail -n 2 "$tmp/err")}"
    fi
  done
  gzip -c "$tmp/background.fa" > "$tmp/background.fa.gz"
  threads=$(nproc)
  VELCORIN2=$bin workflow/parallel_run.sh --no-table "$tmp/background.fa.gz" "$tmp/bgd" -v -p 0.05 > /dev/null 2> "$tmp/err"
  status=$?
  pieces=$(sed -n 's/.*joined \([0-9]*\) piece(s).*/\1/p' "$tmp/err")
  if [ "$status" -eq 0 ] && [ "${pieces:-0}" -ge $((threads < 3 ? threads : 3)) ] && problem=$(same "$tmp/bg" "$tmp/bgd" coil seq); then
    pass "parallel_run.sh, .gz input, default job count ($threads): $pieces blocks, the outputs of one run"
  else
    fail "parallel_run.sh, .gz input, default job count ($threads): status $status, ${pieces:-no} blocks ${problem:-}"
  fi
fi

# ------------------------------------------------ left in the repository
# Run from the repository root, the Snakefile leaves results/ and
# .snakemake/ (and sbatch slurm-*.out, parallel_run.sh PREFIX.pieces after
# a failure): git ignores them.
if git -C "$repo" rev-parse --is-inside-work-tree > /dev/null 2>&1; then
  bad=
  for name in results/proteome.out .snakemake/log slurm-12_3.out proteome.pieces/piece.1.fa; do
    git -C "$repo" check-ignore -q -- "$name" || bad="$bad $name"
  done
  [ -z "$bad" ] && pass "git ignores what the recipes leave in the repository" || fail "git does not ignore:$bad"
else
  skip "what git ignores: $repo is not a git work tree"
fi

# --------------------------------------------------- external tools
# tests/need_tool.sh: a missing tool fails a check, naming its package,
# unless VELCORIN_SKIP_<NAME>=1 skips it, saying so.  A PATH without gt:
# links to every program on PATH but gt.
mkdir -p "$tmp/path"
IFS=: read -r -a path_dirs <<< "$PATH"
for d in "${path_dirs[@]}"; do [ -d "$d" ] && ln -s -t "$tmp/path" "$d"/* 2> /dev/null; done
rm -f "$tmp/path/gt"
said=$(PATH=$tmp/path "$BASH" tests/need_tool.sh gt genometools)
status=$?
[ "$status" -eq 1 ] && [[ $said == *gt*genometools*VELCORIN_SKIP_GT=1* ]] && pass "need_tool.sh: a missing tool fails, naming the package and the variable" ||
  fail "need_tool.sh, a missing tool: status $status, '$said'"
said=$(PATH=$tmp/path VELCORIN_SKIP_GT=1 "$BASH" tests/need_tool.sh gt genometools)
status=$?
[ "$status" -eq 77 ] && [[ $said == skipped:*gt* ]] && pass "need_tool.sh: VELCORIN_SKIP_GT=1 skips, saying so" ||
  fail "need_tool.sh, VELCORIN_SKIP_GT=1: status $status, '$said'"
said=$(PATH=$tmp/path "$BASH" tests/need_tool.sh slurm 'slurm-wlm and munge' bash no-such-program)
status=$?
[ "$status" -eq 1 ] && [[ $said == no-such-program*"packages slurm-wlm and munge"*VELCORIN_SKIP_SLURM=1* ]] && pass "need_tool.sh: several programs under one name" ||
  fail "need_tool.sh, several programs: status $status, '$said'"
PATH=$tmp/path tests/gff3_check.sh "$(dirname "$bin")" "$tmp" > /dev/null 2> "$tmp/err"
status=$?
[ "$status" -eq 1 ] && mentions "$tmp/err" genometools && pass "gff3_check.sh without gt fails, naming genometools" ||
  fail "gff3_check.sh without gt: status $status"
PATH=$tmp/path VELCORIN_SKIP_GT=1 tests/gff3_check.sh "$(dirname "$bin")" "$tmp" > "$tmp/out" 2>&1
status=$?
[ "$status" -eq 77 ] && mentions "$tmp/out" skipped && pass "gff3_check.sh without gt and VELCORIN_SKIP_GT=1: skipped, saying so" ||
  fail "gff3_check.sh without gt, VELCORIN_SKIP_GT=1: status $status"
# No test looks for a tool by itself (and skips in silence when it is missing).
found=$(grep -nE '(command -v|type -[pP]|which|hash) +[^ ]' tests/*.sh tests/recipes/*.sh | grep -v '^tests/need_tool.sh:' | grep -vE '^[^:]+:[0-9]+: *#')
[ -z "$found" ] && pass "every test looks for its tools through tests/need_tool.sh" || fail "tests that look for tools themselves: $found"

echo "recipes: $passed passed, $failed failed, $skipped skipped"
[ "$failed" -eq 0 ]
