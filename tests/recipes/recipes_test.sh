#!/usr/bin/env bash
# Tests of the proteome recipes in workflow/ that need no cluster daemons,
# the cases of tests/recipes/cases.tsv (run_cases in lib.sh says how to read
# them): the splitter on many record counts, the join and its refusals on
# the files in data/join, slurm_array.sh run task by task outside Slurm,
# parallel_run.sh and the Snakefile with --cores 2, their region outputs;
# then inputs that change during a run, names that begin with '-', the
# modes of the files the recipes create, parallel_run.sh's block sizes,
# what git ignores, and the rule for external tools of tests/need_tool.sh.
#
#   tests/recipes/recipes_test.sh [VELCORIN2]    (default: build/velcorin2)
#
# Builds nothing.  Where GNU parallel, snakemake or gt is missing, the cases
# that need it fail, naming the Debian package, unless
# VELCORIN_SKIP_PARALLEL=1, VELCORIN_SKIP_SNAKEMAKE=1 or VELCORIN_SKIP_GT=1
# says to skip them.
source "$(dirname "$0")/lib.sh"
umask 022   # the recipes' files must be private whatever the umask
fixture=$data/join

# The helpers of the cases.
# fresh [SETUP]: j, a copy of data/join, after the shell command SETUP in it.
fresh() { rm -rf j && cp -r "$fixture" j && (cd j && eval "${1:-:}"); }
# block FILE NAME: the lines of workflow/FILE from '# >>> NAME' to '# <<< NAME'.
block() { sed -n "/^# >>> $2/,/^# <<< $2/p" "$repo/workflow/$1"; }
smk() { snakemake -s "$repo/workflow/Snakefile" --cores 2 --quiet "$@"; }
# tasks N K... -- ARGS: slurm_array.sh ARGS as tasks K... of an array 1-N
# (min-max with min= and max= set) outside Slurm; names the tasks that
# fail, with the status of the last.
tasks() {
  local n=$1 k ks=() status=0
  shift
  while [ "$1" != -- ]; do ks+=("$1"); shift; done
  shift
  for k in "${ks[@]}"; do
    SLURM_ARRAY_TASK_ID=$k SLURM_ARRAY_TASK_COUNT=$n SLURM_ARRAY_TASK_MIN=${min:-1} SLURM_ARRAY_TASK_MAX=${max:-$n} \
      slurm_array.sh "$@" > /dev/null || { status=$?; echo -n " $k"; }
  done
  return $status
}
# sweep N R... (R a count or FROM-TO): split_fasta.sh cuts the first R
# records, for each R, into exactly N pieces piece.1..N that concatenate to
# the input, each beginning with a record; with R >= N none empty and none
# over its share (bytes / N) by more than the longest record; with R < N,
# pieces 1..R one record each, the rest empty.  z=.gz: a gzipped input.
# (Each cut costs a few processes: every count for every N would take
# minutes.)
sweep() {
  local n=$1 range r k d files all problem
  shift
  for range; do
    awk -v a="${range%-*}" -v b="${range#*-}" 'function out(f, i) { f = "in." c ".fa"; for (i = 1; i <= n; i++) print l[i] > f; close(f) }
      /^>/ { if (c >= a) out(); if (++c > b) exit } { l[++n] = $0 } END { if (c >= a && c <= b) out() }' background.fa
    for ((r = ${range%-*}; r <= ${range#*-}; r++)); do
      d=s.$n.$r files=()
      [ -z "${z:-}" ] || gzip -kf "in.$r.fa"
      split_fasta.sh "$n" "in.$r.fa${z:-}" "$d" || { echo "$r records: status $?"; return 1; }
      for ((k = 1; k <= n; k++)); do files+=("$d/piece.$k.fa"); done
      all=("$d"/*)
      [ "${#all[@]}" = "$n" ] || { echo "$r records: ${#all[@]} pieces, not $n"; return 1; }
      problem=$(awk -v n="$n" 'FNR == NR { if (/^>/) { r++; if (s > m) m = s; s = 0 } s += length + 1; t += length + 1; line[++L] = $0; next }
        { k = FILENAME; sub(/.*piece\./, "", k); sub(/\.fa$/, "", k) }
        FNR == 1 && k > 1 && !/^>/ { bad = "piece " k " does not begin with a record"; exit }
        $0 != line[++at] { bad = "piece " k " differs from the input at line " at; exit }
        { b[k] += length + 1; c[k] += /^>/ }
        END { if (s > m) m = s; if (!bad && at != L) bad = "the pieces hold " at " of " L " lines"
          for (k = 1; k <= n && !bad; k++) if (r >= n ? !c[k] || b[k] > t / n + m : c[k] != (k <= r)) bad = "piece " k ": " c[k] + 0 " records, " b[k] + 0 " bytes"
          print bad }' "in.$r.fa" "${files[@]}")
      [ -z "$problem" ] || { echo "$r records: $problem"; return 1; }
    done
  done
}

run_cases tests/recipes/cases.tsv
echo "recipes: $passed passed, $failed failed, $skipped skipped"
[ "$failed" -eq 0 ]
