#!/usr/bin/env bash
# Joins the outputs of velcorin2 runs on the pieces of a FASTA file, in
# piece order, into the outputs of the whole file.
#
#   join_pieces.sh [-n N] [--no-table] [--regions] [--gff3] [--] WORKDIR PREFIX
#   join_pieces.sh --describe-input INPUT
#
# WORKDIR holds, for piece K = 1..N, the files that slurm_array.sh,
# parallel_run.sh and the Snakefile write:
#   piece.K.status       exit status of the run (the join needs "0" for all)
#   piece.K.out          per-residue table (absent with --no-table)
#   piece.K.coil         coil log
#   piece.K.seq          per-sequence log
#   piece.K.regions.tsv  region table (with --regions)
#   piece.K.gff3         GFF3 regions (with --gff3)
# and usually WORKDIR/run, which records the piece count and the outputs
# asked for (pieces=, table=, regions=, gff3=); values given here must agree
# with it.  Without WORKDIR/run, -n is required.
#
# WORKDIR/run also records the input as it was when the run started: its
# absolute name (input=), size in bytes (input_size=), modification time
# (input_mtime=) and the CRC that cksum computes over its bytes
# (input_cksum=).  The join refuses when the file at that name differs in
# any of them, or is gone: pieces cut before and after a change would join
# into a result of no input.  --describe-input INPUT prints these lines for
# INPUT (only input= for what is not a regular file, such as a pipe); the
# recipes write them into WORKDIR/run when a run starts.
#
# Writes PREFIX.out, PREFIX.coil, PREFIX.seq and, when asked for,
# PREFIX.regions.tsv and PREFIX.gff3, with mode 0600 (created private, as
# velcorin2 creates its outputs).  Tables and logs are concatenated;
# the region table keeps the header line of the first piece and the rows of
# all; the GFF3 file keeps one "##gff-version 3" line and every other line of
# every piece.  (Record numbers in the logs count from 1 in each piece.)
#
# Refuses, with exit status 1 and before writing anything, unless every piece
# has status 0 and all its output files, no piece N+1 is lying around, and
# the input is the one the run started with.
# This script also runs as a batch job, e.g. after a job array:
#   sbatch --dependency=afterany:JOBID workflow/join_pieces.sh WORKDIR PREFIX
set -euo pipefail
umask 077

me=join_pieces.sh
die() { echo "$me: $*" >&2; exit 1; }
usage() {
  echo "usage: $me [-n N] [--no-table] [--regions] [--gff3] [--] WORKDIR PREFIX | $me --describe-input INPUT" >&2
  exit 2
}

# >>> input_identity (the same text in join_pieces.sh and slurm_array.sh)
# run_value KEY RUNFILE: the last KEY= value in RUNFILE.
run_value() { sed -n "s/^$1=//p" -- "$2" | tail -n 1; }
# describe_input FILE prints the lines that record FILE in WORKDIR/run:
# input= (its absolute name), and for a regular file input_size= (bytes),
# input_mtime= (modification time, seconds since 1970 to the nanosecond)
# and input_cksum= (the CRC of cksum over its bytes).
describe_input() {
  local file=$1 size mtime sum
  case $file in /*) echo "input=$file" ;; *) echo "input=$PWD/$file" ;; esac
  [ -f "$file" ] || return 0
  size=$(stat -L -c %s -- "$file") && mtime=$(stat -L -c %.9Y -- "$file") &&
    sum=$(cksum < "$file") || return 1
  printf 'input_size=%s\ninput_mtime=%s\ninput_cksum=%s\n' "$size" "$mtime" "${sum%% *}"
}
# check_input RUNFILE [quick]: status 0 when the input that RUNFILE records
# is still the same file (or RUNFILE records no size, time and CRC); else
# status 1 and what changed on standard output.  "quick" compares the size
# and time only, without reading the file.
check_input() {
  local run=$1 quick=${2:-} file size mtime sum want_size want_mtime want_sum
  file=$(run_value input "$run")
  want_size=$(run_value input_size "$run")
  want_mtime=$(run_value input_mtime "$run")
  want_sum=$(run_value input_cksum "$run")
  [ -n "$want_sum" ] || return 0
  if [ ! -f "$file" ]; then
    echo "the input $file is gone"
    return 1
  fi
  size=$(stat -L -c %s -- "$file") && mtime=$(stat -L -c %.9Y -- "$file") || { echo "cannot stat the input $file"; return 1; }
  if [ "$size" != "$want_size" ]; then
    echo "the input $file has changed since the run started: it is $size bytes long, not $want_size"
    return 1
  fi
  if [ "$mtime" != "$want_mtime" ]; then
    echo "the input $file has changed since the run started: it was last modified at $(date -d "@$mtime" '+%F %T' 2> /dev/null || echo "$mtime"), the run started from the version of $(date -d "@$want_mtime" '+%F %T' 2> /dev/null || echo "$want_mtime")"
    return 1
  fi
  [ "$quick" = quick ] && return 0
  sum=$(cksum < "$file") || { echo "cannot read the input $file"; return 1; }
  if [ "${sum%% *}" != "$want_sum" ]; then
    echo "the input $file has changed since the run started: its bytes differ (CRC ${sum%% *}, not $want_sum) though size and time are the same"
    return 1
  fi
}
# <<< input_identity

if [ "${1:-}" = --describe-input ]; then
  [ $# -eq 2 ] || usage
  describe_input "$2"
  exit
fi

n= table= regions= gff3=
while [ $# -gt 0 ]; do
  case $1 in
    -n) [ $# -ge 2 ] || usage; n=$2; shift 2 ;;
    --no-table) table=0; shift ;;
    --regions) regions=1; shift ;;
    --gff3) gff3=1; shift ;;
    --) shift; break ;;
    -*) usage ;;
    *) break ;;
  esac
done
[ $# -eq 2 ] || usage
work=$1 prefix=$2
case $work in -*) work=./$work ;; esac     # no name is taken for an option
case $prefix in -*) prefix=./$prefix ;; esac
[ -d "$work" ] || die "no directory '$work'"

# Values from WORKDIR/run; those given on the command line must agree.
if [ -f "$work/run" ]; then
  for key in pieces table regions gff3; do
    value=$(run_value "$key" "$work/run")
    given=
    case $key in
      pieces) given=$n ;;
      table) given=$table ;;
      regions) given=$regions ;;
      gff3) given=$gff3 ;;
    esac
    if [ -n "$given" ] && [ -n "$value" ] && [ "$given" != "$value" ]; then
      die "$key=$given given, but $work/run has $key=$value"
    fi
    if [ -z "$given" ]; then
      case $key in
        pieces) n=$value ;;
        table) table=$value ;;
        regions) regions=$value ;;
        gff3) gff3=$value ;;
      esac
    fi
  done
fi
[ -n "$n" ] || die "the piece count is unknown: give -n N (no $work/run)"
case $n in *[!0-9]* | 0?*) die "the piece count must be a number, not '$n'" ;; esac
: "${table:=1}" "${regions:=0}" "${gff3:=0}"

kinds=()
[ "$table" = 1 ] && kinds+=(out)
kinds+=(coil seq)
[ "$regions" = 1 ] && kinds+=(regions.tsv)
[ "$gff3" = 1 ] && kinds+=(gff3)

# The input must be the one the run started with, and every piece must
# have finished with status 0 and left its files.
bad=0
if [ -f "$work/run" ] && ! why=$(check_input "$work/run"); then
  echo "$me: $why; the pieces may have been cut from two different inputs: score it again in a fresh WORKDIR" >&2
  bad=$((bad + 1))
fi
for ((k = 1; k <= n; k++)); do
  status_file=$work/piece.$k.status
  if [ ! -f "$status_file" ]; then
    echo "$me: piece $k of $n has no status file: it has not run, is still running, or was killed" >&2
    bad=$((bad + 1))
    continue
  fi
  status=$(cat -- "$status_file")
  if [ "$status" != 0 ]; then
    echo "$me: piece $k of $n failed with status '$status' (messages in $work/piece.$k.msgs)" >&2
    bad=$((bad + 1))
    continue
  fi
  for kind in "${kinds[@]}"; do
    if [ ! -f "$work/piece.$k.$kind" ]; then
      echo "$me: piece $k of $n has status 0 but no $work/piece.$k.$kind" >&2
      bad=$((bad + 1))
    fi
  done
done
if [ -e "$work/piece.$((n + 1)).status" ]; then
  echo "$me: $work/piece.$((n + 1)).status exists, but the run has $n pieces: a different run left files here" >&2
  bad=$((bad + 1))
fi
[ "$bad" -eq 0 ] || die "refusing to join: $bad problem(s) in $work; nothing written"

# Join each kind into PREFIX.KIND.partial; rename all only when all are done.
cleanup() { for kind in "${kinds[@]}"; do rm -f -- "$prefix.$kind.partial"; done; }
trap cleanup EXIT
for kind in "${kinds[@]}"; do
  dest=$prefix.$kind.partial
  case $kind in
    regions.tsv)
      header=
      for ((k = 1; k <= n; k++)); do
        f=$work/piece.$k.$kind
        [ -s "$f" ] || continue
        first=$(head -n 1 -- "$f")
        if [ -z "$header" ]; then
          header=$first
          printf '%s\n' "$header"
        elif [ "$first" != "$header" ]; then
          die "the header of $f differs from the first piece's"
        fi
        tail -n +2 -- "$f"
      done > "$dest"
      ;;
    gff3)
      started=0
      for ((k = 1; k <= n; k++)); do
        f=$work/piece.$k.$kind
        [ -s "$f" ] || continue
        first=$(head -n 1 -- "$f")
        case $first in
          '##gff-version 3'*) ;;
          *) die "$f does not begin with '##gff-version 3'" ;;
        esac
        if [ "$started" = 0 ]; then
          printf '%s\n' "$first"
          started=1
        fi
        tail -n +2 -- "$f"
      done > "$dest"
      ;;
    *)
      for ((k = 1; k <= n; k++)); do
        cat -- "$work/piece.$k.$kind"
      done > "$dest"
      ;;
  esac
done
for kind in "${kinds[@]}"; do
  mv -f -- "$prefix.$kind.partial" "$prefix.$kind"
done
trap - EXIT
echo "$me: joined $n piece(s) of $work into $prefix.{$(IFS=,; echo "${kinds[*]}")}" >&2
