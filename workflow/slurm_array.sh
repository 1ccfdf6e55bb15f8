#!/usr/bin/env bash
#SBATCH --job-name=velcorin2
#SBATCH --cpus-per-task=1
#SBATCH --mem=500M
# A Slurm job array that scores a FASTA file (plain, .gz or .Z) in pieces,
# one piece per array task; workflow/join_pieces.sh then joins the pieces.
#
#   sbatch --array=1-N [sbatch options] workflow/slurm_array.sh \
#       [--no-table] [--regions] [--gff3] [--] INPUT WORKDIR [velcorin2 options]
#
# The number of pieces is the size of the array: task K of an array 1-N
# takes piece K of N of INPUT (cut at record boundaries, balanced by bytes;
# see split_fasta.sh, whose cutting code is repeated below so that this
# file works on its own after sbatch has copied it), so there are as many
# pieces as tasks for any record count.  An array that is not 1-N
# (--array=0-99, --array=1-100:2) is refused.  To run some tasks again,
# name them and give the piece count:
#   VELCORIN2_PIECES=100 sbatch --array=17,42 workflow/slurm_array.sh ...
#
# velcorin2 is $VELCORIN2 if set, else found on PATH; the model comes from
# $VELCORIN_CONFIG, else ~/.velcorin2, else the configuration installed
# beside the program (<prefix>/share/velcorin2/velcorin2.conf), as for any
# run (the configuration must not name sequence, output or log files: the
# tasks give those).
# [velcorin2 options] go before the file names, e.g. -v -p 0.05.
# --regions, --gff3 and --no-table ask for those outputs; each task names
# its own files.
#
# Task K writes into WORKDIR (created if needed): piece.K.fa, piece.K.out
# (table), piece.K.coil, piece.K.seq (logs), piece.K.regions.tsv,
# piece.K.gff3 (when asked for), piece.K.msgs (velcorin2's standard output
# and error) and last piece.K.status, the exit status; all of them private
# (mode 0600, WORKDIR 0700 when created here).  WORKDIR/run records the
# piece count, the options and the input: its name, size, modification
# time and CRC (cksum) when the first task started.  A task refuses, with
# exit status 2 and before touching its piece, a WORKDIR whose run file
# says otherwise (a directory of another run), and an input that is no
# longer the one recorded (edited since, or replaced): its piece would not
# fit the pieces cut before.  Then
#   workflow/join_pieces.sh WORKDIR PREFIX
# (or sbatch --dependency=afterany:JOBID workflow/join_pieces.sh WORKDIR PREFIX)
# checks that every piece has status 0 and that the input is unchanged, and
# joins them in order.
set -euo pipefail
umask 077

me=slurm_array.sh
die() { echo "$me: $*" >&2; exit 2; }

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

table=1 regions=0 gff3=0
while [ $# -gt 0 ]; do
  case $1 in
    --no-table) table=0; shift ;;
    --regions) regions=1; shift ;;
    --gff3) gff3=1; shift ;;
    --) shift; break ;;
    *) break ;;
  esac
done
[ $# -ge 2 ] || die "usage: sbatch --array=1-N $me [--no-table] [--regions] [--gff3] [--] INPUT WORKDIR [velcorin2 options]"
input=$1 work=$2
shift 2
options=("$@")
case $work in -*) work=./$work ;; esac   # velcorin2 would take it for an option

[ -n "${SLURM_ARRAY_TASK_ID:-}" ] || die "not an array task: submit with sbatch --array=1-N"
k=$SLURM_ARRAY_TASK_ID
if [ -n "${VELCORIN2_PIECES:-}" ]; then
  n=$VELCORIN2_PIECES
  case $n in '' | *[!0-9]* | 0*) die "VELCORIN2_PIECES must be a positive integer, not '$n'" ;; esac
else
  n=${SLURM_ARRAY_TASK_COUNT:?}
  if [ "${SLURM_ARRAY_TASK_MIN:-}" != 1 ] || [ "${SLURM_ARRAY_TASK_MAX:-}" != "$n" ]; then
    die "the array must be 1-N (this one has $n tasks from ${SLURM_ARRAY_TASK_MIN:-?} to ${SLURM_ARRAY_TASK_MAX:-?}); to rerun some tasks set VELCORIN2_PIECES"
  fi
fi
[ "$k" -ge 1 ] && [ "$k" -le "$n" ] || die "task $k is not one of the pieces 1-$n"

bin=${VELCORIN2:-$(command -v velcorin2 || true)}
[ -n "$bin" ] || die "velcorin2 is not on PATH; set VELCORIN2=/path/to/velcorin2"
[ -x "$bin" ] || die "VELCORIN2=$bin is not an executable file"
[ -r "$input" ] || die "cannot read '$input'"
mkdir -p -- "$work"

# WORKDIR/run: written by the first task; every task checks that it
# describes this run and that the input is still the file it describes.
case $input in /*) abs_input=$input ;; *) abs_input=$PWD/$input ;; esac
settings=$(printf 'pieces=%s\ntable=%s\nregions=%s\ngff3=%s\noptions=%s\ninput=%s' \
  "$n" "$table" "$regions" "$gff3" "${options[*]}" "$abs_input")
created=0
if [ ! -e "$work/run" ]; then
  run_tmp=$(mktemp -- "$work/.run.XXXXXX")
  if ! { grep -v '^input=' <<< "$settings" && describe_input "$input"; } > "$run_tmp"; then
    rm -f -- "$run_tmp"
    die "cannot read '$input'"
  fi
  if ln -- "$run_tmp" "$work/run" 2> /dev/null; then   # the first task creates it
    created=1
  elif [ ! -e "$work/run" ]; then                      # no hard links here
    mv -f -- "$run_tmp" "$work/run"
    created=1
  fi
  rm -f -- "$run_tmp"
fi
if [ "$(grep -v '^input_' -- "$work/run")" != "$settings" ]; then
  die "$work/run describes another run (piece count, input or options differ): use a fresh WORKDIR"
fi
if [ "$created" = 0 ] && ! why=$(check_input "$work/run"); then
  die "$why; piece $k would not fit the pieces cut before: score it again in a fresh WORKDIR (piece $k of $n not run)"
fi

# >>> split_fasta (the same text in split_fasta.sh and slurm_array.sh)
# split_fasta N K INPUT DIR: K = 0 writes all N pieces into DIR/piece.*.fa,
# K > 0 writes piece K to standard output.  INPUT '-' is standard input.
# One awk reads the text twice: first the size in bytes of every record,
# then the cut.
split_fasta() {
  local n=$1 want=$2 input=$3 dir=$4 copy= rc=0
  local -
  set -o pipefail
  if [ "$input" = - ]; then   # read twice: keep a copy
    copy=$(mktemp -- "${TMPDIR:-/tmp}/split_fasta.XXXXXX") || return
    cat > "$copy" || { rm -f -- "$copy"; return 1; }
    input=$copy
  fi
  # Names ending in .gz or .Z are decompressed, as velcorin2 does.  The
  # second gzip's status is lost in the process substitution; a short
  # second reading is caught by comparing the two instead.
  case $input in
    *.gz | *.Z) gzip -cd -- "$input" | split_fasta_awk /dev/fd/0 /dev/fd/3 3< <(gzip -cd -- "$input") ;;
    *) split_fasta_awk /dev/fd/3 /dev/fd/4 3< "$input" 4< "$input" ;;
  esac || rc=$?
  [ -z "$copy" ] || rm -f -- "$copy"
  return "$rc"
}
# Record i goes to piece p(i).  Aim: the piece that holds the record's middle
# byte when the input is cut into N equal byte ranges; but p never skips a
# piece (p(i) <= p(i-1) + 1) and leaves enough records for the pieces still
# to fill (p(i) >= N - R + i), so all N pieces get records when R >= N.
# With R <= N record i goes to piece i.  Lines before the first record go
# to piece 1.
split_fasta_awk() {
  LC_ALL=C SPLIT_DIR=$dir awk -v n="$n" -v want="$want" '
    FNR == 1 { pass++ }
    pass == 1 {
      if (/^>/) r++
      if (r) { size[r] += length($0) + 1; total += length($0) + 1 }
      bytes1 += length($0) + 1
      next
    }
    pass == 2 && FNR == 1 {
      dir = ENVIRON["SPLIT_DIR"]; p = 1
      if (want == 0) open_piece()
    }
    /^>/ {
      i++
      if (r <= n) q = i
      else {
        q = 1 + int((before + size[i] / 2) * n / total)
        if (q < p) q = p
        if (q > p + 1) q = p + 1
        if (q < n - r + i) q = n - r + i
      }
      before += size[i]
      if (q != p) { p = q; if (want == 0) open_piece() }
    }
    { bytes2 += length($0) + 1 }
    want == 0 { print > out; next }
    p == want { print }
    function open_piece() {
      if (out != "") close(out)
      out = dir "/piece." p ".fa"
      made[p] = 1
      printf "" > out
    }
    END {
      if (i != r || bytes2 != bytes1) {
        print "split_fasta: the input changed between the two readings" > "/dev/stderr"
        exit 1
      }
      if (want != 0) exit
      if (out != "") close(out)
      dir = ENVIRON["SPLIT_DIR"]
      for (k = 1; k <= n; k++)
        if (!(k in made)) { f = dir "/piece." k ".fa"; printf "" > f; close(f) }
    }' "$@"
}
# <<< split_fasta

piece=$work/piece.$k
rm -f -- "$piece.status" "$piece.out" "$piece.coil" "$piece.seq" \
  "$piece.regions.tsv" "$piece.gff3" "$piece.msgs"
status=0
split_fasta "$n" "$k" "$input" "" > "$piece.fa" || status=$?
if [ "$status" -eq 0 ] && ! why=$(check_input "$work/run" quick); then
  status=1
  echo "$me: $why (while piece $k of $n was cut)" | tee -- "$piece.msgs" >&2
elif [ "$status" -ne 0 ]; then
  echo "$me: cutting piece $k of $n from $input failed (status $status)" | tee -- "$piece.msgs" >&2
else
  words=()
  [ "$regions" = 1 ] && words+=(--regions "$piece.regions.tsv")
  [ "$gff3" = 1 ] && words+=(--gff3 "$piece.gff3")
  [ "$table" = 0 ] && words+=(--no-table)
  words+=("${options[@]}" "$piece.fa")
  [ "$table" = 1 ] && words+=("$piece.out")
  words+=("$piece.coil" "$piece.seq")
  "$bin" "${words[@]}" > "$piece.msgs" 2>&1 || status=$?
  [ "$status" -eq 0 ] || echo "$me: velcorin2 failed on piece $k of $n (status $status); its messages are in $piece.msgs" >&2
fi
echo "$status" > "$piece.status.tmp"
mv -f -- "$piece.status.tmp" "$piece.status"
exit "$status"
