#!/usr/bin/env bash
# Scores a FASTA file (plain, .gz or .Z) with GNU parallel: the input is cut
# into blocks at record boundaries, each block is scored by its own velcorin2
# process, and the outputs are joined in input order by join_pieces.sh.
#
#   parallel_run.sh [--no-table] [--regions] [--gff3] INPUT PREFIX [velcorin2 options]
#
# writes PREFIX.out (table), PREFIX.coil, PREFIX.seq (logs) and, with
# --regions / --gff3, PREFIX.regions.tsv / PREFIX.gff3, exactly as one
# velcorin2 run on INPUT would, apart from record numbers in the logs, which
# count from 1 in each block.
#
# Environment:
#   VELCORIN2          the program (default: velcorin2 on PATH)
#   VELCORIN_CONFIG    the configuration, as for any run; passed on to remote
#                      hosts.  It must not name sequence, output or log files.
#   VELCORIN2_BLOCK    block size (default 5M: some seconds of work a block)
#   VELCORIN2_WORKDIR  where the pieces go (default PREFIX.pieces); it must
#                      not exist or be empty, and is removed after a
#                      successful join
#   PARALLEL           GNU parallel's own options, e.g. '-j 8', or
#                      '-S host1,host2' when this directory, velcorin2 and
#                      WORKDIR have the same paths on those hosts
#
# Blocks are cut with --recstart '>' --recend '\n': a block ends only before
# a line that begins with '>', never at a '>' inside a header line.
set -euo pipefail

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
table=1 regions=0 gff3=0
while [ $# -gt 0 ]; do
  case $1 in
    --no-table) table=0; shift ;;
    --regions) regions=1; shift ;;
    --gff3) gff3=1; shift ;;
    *) break ;;
  esac
done
[ $# -ge 2 ] || die "usage: $me [--no-table] [--regions] [--gff3] INPUT PREFIX [velcorin2 options]"
input=$1 prefix=$2
shift 2

command -v parallel >/dev/null || die "GNU parallel is not installed"
here=$(cd "$(dirname "$0")" && pwd)
bin=${VELCORIN2:-$(command -v velcorin2 || true)}
[ -n "$bin" ] || die "velcorin2 is not on PATH; set VELCORIN2=/path/to/velcorin2"
[ -x "$bin" ] || die "VELCORIN2=$bin is not an executable file"
case $bin in /*) ;; *) bin=$PWD/$bin ;; esac
[ -r "$input" ] || die "cannot read '$input'"
work=${VELCORIN2_WORKDIR:-$prefix.pieces}
if [ -e "$work" ] && [ -n "$(ls -A -- "$work")" ]; then
  die "$work is not empty: remove it or set VELCORIN2_WORKDIR"
fi
mkdir -p -- "$work"
case $work in /*) ;; *) work=$PWD/$work ;; esac

status=0
gzip -cdf -- "$input" |
  parallel --pipe --recstart '>' --recend '\n' --block "${VELCORIN2_BLOCK:-5M}" \
    --joblog "$work/joblog" --env VELCORIN_CONFIG -q \
    bash "$here/$me" --piece "$work" '{#}' "$bin" "$table" "$regions" "$gff3" "$@" ||
  status=$?
if [ "$status" -ne 0 ]; then
  echo "$me: GNU parallel reports status $status ($status failed blocks, or an error of its own); the blocks are in $work" >&2
  exit 1
fi
# The piece count: the highest job number (column 1 of the job log).
n=$(awk 'NR > 1 && $1 > n { n = $1 } END { print n + 0 }' "$work/joblog")
printf 'pieces=%s\ntable=%s\nregions=%s\ngff3=%s\n' "$n" "$table" "$regions" "$gff3" > "$work/run"
bash "$here/join_pieces.sh" "$work" "$prefix"
rm -rf -- "$work"
