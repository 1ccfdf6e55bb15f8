#!/usr/bin/env bash
# Joins the outputs of velcorin2 runs on the pieces of a FASTA file, in
# piece order, into the outputs of the whole file.
#
#   join_pieces.sh [-n N] [--no-table] [--regions] [--gff3] WORKDIR PREFIX
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
# Writes PREFIX.out, PREFIX.coil, PREFIX.seq and, when asked for,
# PREFIX.regions.tsv and PREFIX.gff3.  Tables and logs are concatenated;
# the region table keeps the header line of the first piece and the rows of
# all; the GFF3 file keeps one "##gff-version 3" line and every other line of
# every piece.  (Record numbers in the logs count from 1 in each piece.)
#
# Refuses, with exit status 1 and before writing anything, unless every piece
# has status 0 and all its output files, and no piece N+1 is lying around.
# This script also runs as a batch job, e.g. after a job array:
#   sbatch --dependency=afterany:JOBID workflow/join_pieces.sh WORKDIR PREFIX
set -euo pipefail

me=join_pieces.sh
die() { echo "$me: $*" >&2; exit 1; }
usage() {
  echo "usage: $me [-n N] [--no-table] [--regions] [--gff3] WORKDIR PREFIX" >&2
  exit 2
}

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
[ -d "$work" ] || die "no directory '$work'"

# Values from WORKDIR/run; those given on the command line must agree.
if [ -f "$work/run" ]; then
  for key in pieces table regions gff3; do
    value=$(sed -n "s/^$key=//p" "$work/run" | tail -n 1)
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

# Every piece must have finished with status 0 and left its files.
bad=0
for ((k = 1; k <= n; k++)); do
  status_file=$work/piece.$k.status
  if [ ! -f "$status_file" ]; then
    echo "$me: piece $k of $n has no status file: it has not run, is still running, or was killed" >&2
    bad=$((bad + 1))
    continue
  fi
  status=$(cat "$status_file")
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
