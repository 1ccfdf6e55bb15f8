#!/usr/bin/env bash
# Scores a FASTA file (plain, .gz or .Z) with GNU parallel: the input is cut
# into blocks at record boundaries, each block is scored by its own velcorin2
# process, and the outputs are joined in input order by join_pieces.sh.
#
#   parallel_run.sh [--jobs N] [--no-table] [--regions] [--gff3] [--] INPUT PREFIX [velcorin2 options]
#
# writes PREFIX.out (table), PREFIX.coil, PREFIX.seq (logs) exactly as one
# velcorin2 run on INPUT would, apart from record numbers in the logs, which
# count from 1 in each block.  All of them are created private (mode 0600),
# as velcorin2 creates its outputs.
#   --jobs N     N velcorin2 processes at once (GNU parallel's -j N; -j N
#                works too); default: one per CPU thread, as GNU parallel runs
#   --regions    also PREFIX.regions.tsv, the region table (velcorin2 --regions)
#   --gff3       also PREFIX.gff3, the regions as GFF3 (velcorin2 --gff3)
#   --no-table   no PREFIX.out (velcorin2 --no-table), for region outputs only
#
# Environment:
#   VELCORIN2          the program (default: velcorin2 on PATH)
#   VELCORIN_CONFIG    the configuration, as for any run: unset, velcorin2
#                      reads ~/.velcorin2, else the configuration installed
#                      beside it (<prefix>/share/velcorin2/velcorin2.conf).
#                      Passed on to remote hosts.  It must not name sequence,
#                      output or log files.
#   VELCORIN2_BLOCK    block size, as GNU parallel's --block takes it (e.g.
#                      20M).  Default: the FASTA text (of a .gz or .Z input,
#                      decompressed) shared evenly among the jobs, each job
#                      getting as many blocks as the others and no block
#                      over 5M (GNU parallel holds the blocks in memory),
#                      plus 64k for the record cut at each block's end; but
#                      no block under 1M (every block costs a process and
#                      work of GNU parallel's own).  With '-S host1,host2' in
#                      PARALLEL the job count is that of one machine: set
#                      VELCORIN2_BLOCK to spread the input over all of them.
#   VELCORIN2_WORKDIR  where the pieces go (default PREFIX.pieces); it must
#                      not exist or be empty, and is removed after a
#                      successful join
#   PARALLEL           GNU parallel's own options, e.g. '-S host1,host2'
#                      when this directory, velcorin2 and WORKDIR have the
#                      same paths on those hosts (give the job count with
#                      --jobs, which the block size follows)
#
# WORKDIR/run records the input when the run starts (its name, size,
# modification time and CRC); the join refuses if the input has changed by
# then, since the blocks may have been read from two versions of it.
# Blocks are cut with --recstart '>' --recend '\n': a block ends only before
# a line that begins with '>', never at a '>' inside a header line.
set -euo pipefail
umask 077

me=parallel_run.sh

# One block, run by GNU parallel:
#   --piece WORKDIR K VELCORIN2 TABLE REGIONS GFF3 [velcorin2 options] < block
if [ "${1:-}" = --piece ]; then
  work=$2 k=$3 bin=$4 table=$5 regions=$6 gff3=$7
  shift 7
  piece=$work/piece.$k
  cat > "$piece.fa"
  words=()
  [ "$regions" = 1 ] && words+=(--regions "$piece.regions.tsv")
  [ "$gff3" = 1 ] && words+=(--gff3 "$piece.gff3")
  [ "$table" = 0 ] && words+=(--no-table)
  words+=("$@" "$piece.fa")
  [ "$table" = 1 ] && words+=("$piece.out")
  words+=("$piece.coil" "$piece.seq")
  status=0
  "$bin" "${words[@]}" > "$piece.msgs" 2>&1 || status=$?
  echo "$status" > "$piece.status"
  exit "$status"
fi

die() { echo "$me: $*" >&2; exit 2; }
usage() { die "usage: $me [--jobs N] [--no-table] [--regions] [--gff3] [--] INPUT PREFIX [velcorin2 options]"; }
table=1 regions=0 gff3=0 jobs=
while [ $# -gt 0 ]; do
  case $1 in
    --jobs | -j) [ $# -ge 2 ] || usage; jobs=$2; shift 2 ;;
    --no-table) table=0; shift ;;
    --regions) regions=1; shift ;;
    --gff3) gff3=1; shift ;;
    --) shift; break ;;
    *) break ;;
  esac
done
[ $# -ge 2 ] || usage
input=$1 prefix=$2
shift 2
case $jobs in '') ;; *[!0-9]* | 0*) die "--jobs must be a positive integer, not '$jobs'" ;; esac

command -v parallel >/dev/null || die "GNU parallel is not installed (Debian package parallel)"
here=$(cd -- "$(dirname -- "$0")" && pwd)
bin=${VELCORIN2:-$(command -v velcorin2 || true)}
[ -n "$bin" ] || die "velcorin2 is not on PATH; set VELCORIN2=/path/to/velcorin2"
[ -x "$bin" ] || die "VELCORIN2=$bin is not an executable file"
case $bin in /*) ;; *) bin=$PWD/$bin ;; esac
[ -r "$input" ] || die "cannot read '$input'"
work=${VELCORIN2_WORKDIR:-$prefix.pieces}
case $work in /*) ;; *) work=$PWD/$work ;; esac
if [ -e "$work" ] && [ -n "$(ls -A -- "$work")" ]; then
  die "$work is not empty: remove it or set VELCORIN2_WORKDIR"
fi
mkdir -p -- "$work"

# The input as it is now, for the join to check (the run file gets the
# piece count once the blocks are done).
{
  printf 'table=%s\nregions=%s\ngff3=%s\n' "$table" "$regions" "$gff3"
  bash "$here/join_pieces.sh" --describe-input "$input"
} > "$work/run" || die "cannot read '$input'"

# The block size: see VELCORIN2_BLOCK above.
block=${VELCORIN2_BLOCK:-}
if [ -z "$block" ]; then
  slots=${jobs:-$(nproc 2> /dev/null || echo 1)}
  case $slots in '' | *[!0-9]* | 0*) slots=1 ;; esac
  min=$((1 << 20)) max=$((5 << 20)) block=$((5 << 20))
  if [ -f "$input" ]; then
    bytes=$(stat -L -c %s -- "$input")
    # gzip and compress data start with byte 0x1f, FASTA text does not.
    # The text of a compressed input is counted where it can matter.
    if [ "$(head -c 1 -- "$input" | od -An -tx1 | tr -d ' \n')" = 1f ]; then
      if [ "$bytes" -lt $((max * slots)) ]; then
        bytes=$(gzip -cdf -- "$input" | wc -c)
      else
        bytes=
      fi
    fi
    if [ -n "$bytes" ]; then
      # The same number of blocks for every job, each at most 5M.
      per_job=$(((bytes + slots - 1) / slots))
      blocks_per_job=$(((per_job + max - 1) / max))
      [ "$blocks_per_job" -ge 1 ] || blocks_per_job=1
      block=$(((per_job + blocks_per_job - 1) / blocks_per_job + 65536))
      [ "$block" -ge "$min" ] || block=$min
    fi
  fi
fi
jobs_option=()
[ -n "$jobs" ] && jobs_option=(-j "$jobs")

status=0
gzip -cdf -- "$input" |
  parallel "${jobs_option[@]}" --pipe --recstart '>' --recend '\n' --block "$block" \
    --joblog "$work/joblog" --env VELCORIN_CONFIG -q \
    bash "$here/$me" --piece "$work" '{#}' "$bin" "$table" "$regions" "$gff3" "$@" ||
  status=$?
if [ "$status" -ne 0 ]; then
  echo "$me: GNU parallel reports status $status ($status failed blocks, or an error of its own); the blocks are in $work" >&2
  exit 1
fi
# The piece count: the highest job number (column 1 of the job log).
n=$(awk 'NR > 1 && $1 > n { n = $1 } END { print n + 0 }' "$work/joblog")
echo "pieces=$n" >> "$work/run"
bash "$here/join_pieces.sh" -- "$work" "$prefix"
rm -rf -- "$work"
