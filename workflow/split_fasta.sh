#!/usr/bin/env bash
# Cuts a FASTA file into exactly N pieces of consecutive records, for
# scoring the pieces in separate velcorin2 runs.  Names ending in .gz or .Z
# are decompressed (as velcorin2 does); the pieces are plain FASTA.
#
#   split_fasta.sh N INPUT DIR        writes DIR/piece.1.fa ... DIR/piece.N.fa
#   split_fasta.sh --piece K N INPUT  writes piece K of N to standard output
#
# A record starts at a line whose first character is '>' ('>' elsewhere in a
# line, as in "<UNP ...>", does not start one).  Pieces are balanced by bytes,
# so a piece holds about 1/N of the input however the record lengths vary;
# each record goes whole into one piece, and the pieces in order
# concatenate to the input (a missing newline at the very end is added).
# Lines before the first record go into piece 1.
#
# With R records and R >= N every piece holds at least one record.  With
# R < N, records 1..R go into pieces 1..R and pieces R+1..N are empty files:
# velcorin2 scores an empty piece to an empty table, so a job per piece
# still succeeds and the joined result is unchanged.
#
# Both forms place every record in the same piece, so N jobs that each take
# their own piece with --piece produce the same pieces as one split.
# The input is read twice, once for the record sizes and once for the cut;
# INPUT '-' (standard input) is copied to a temporary file first.
# The pieces are created private (mode 0600), as velcorin2's outputs are.
set -euo pipefail
umask 077

usage() {
  echo "usage: split_fasta.sh N INPUT DIR | split_fasta.sh --piece K N INPUT" >&2
  exit 2
}

piece=0
if [ "${1:-}" = --piece ]; then
  [ $# -eq 4 ] || usage
  piece=$2; n=$3; input=$4; dir=
  case $piece in '' | *[!0-9]* | 0*) echo "split_fasta.sh: K must be a positive integer, not '$piece'" >&2; exit 2 ;; esac
else
  [ $# -eq 3 ] || usage
  n=$1; input=$2; dir=$3
fi
case $n in '' | *[!0-9]* | 0*) echo "split_fasta.sh: N must be a positive integer, not '$n'" >&2; exit 2 ;; esac
if [ "$piece" -gt "$n" ]; then
  echo "split_fasta.sh: piece $piece of $n does not exist" >&2
  exit 2
fi

if [ "$input" != - ] && [ ! -r "$input" ]; then
  echo "split_fasta.sh: cannot read '$input'" >&2
  exit 2
fi
if [ -n "$dir" ]; then
  mkdir -p -- "$dir"
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

split_fasta "$n" "$piece" "$input" "$dir"
