#!/usr/bin/env bash
# The region files of a multi-record run with hostile headers:
#  1. the GFF3 passes `gt gff3validator` with Sequence Ontology type checking;
#  2. its seqids and Names decode back to the records' codes and titles;
#  3. its features are the runs of residues whose p-score in the per-residue
#     table is below the threshold, split where the heptad breaks, with the
#     lowest of their p-scores;
#  4. the TSV holds the same regions with the same values;
#  5. both files are the same bytes with --threads 3 (records cut by
#     --max-length included); a register-file run
#     (codes with blanks and tabs) validates too, and so does an empty input.
#   gff3_check.sh <dir of the programs> <test model dir>
# Needs gt (Debian package genometools).  Without it the check fails, unless
# VELCORIN_SKIP_GT=1, when it reports itself skipped (status 77): the rule of
# tests/need_tool.sh.
set -euo pipefail
export LC_ALL=C
bin=$(cd "$1" && pwd) model=$(cd "$2" && pwd)
data=$(cd "$(dirname "$0")/data" && pwd)
if ! tool=$(bash "$(dirname "$0")/need_tool.sh" gt genometools); then
  case $tool in skipped:*) echo "gff3_check: $tool"; exit 77 ;; esac
  echo "gff3_check: $tool" >&2
  exit 1
fi
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"
fails=0
bad() { echo "gff3_check: $*" >&2; fails=$((fails + 1)); }

# Hostile headers and what the reader makes of them: the code is the first
# word, the title the rest after blanks (tabs and odd bytes and all; a CR
# before the line end goes).
headers=($'a;b=c%d,e title with ; = % , & and\ttabs\t' '>gt starts with >'
         'sp|P12345|CC_HUMAN ordinary code' $'caf\xc3\xa9 na\xc3\xafve \xe2\x80\x9cquotes\xe2\x80\x9d'
         $'\xe9t\xe9 latin-1 \xff\xfe' ' only a title' '' $'crlf title\r' $'crlfonly\r'
         $'ctl\x01x back\\slash "q" <a> trailing\x7f  ' '%41 %41 literal')
codes=($'a;b=c%d,e' '>gt' 'sp|P12345|CC_HUMAN' $'caf\xc3\xa9' $'\xe9t\xe9' '' '' crlf crlfonly
       $'ctl\x01x' '%41')
titles=($'title with ; = % , & and\ttabs\t' 'starts with >' 'ordinary code'
        $'na\xc3\xafve \xe2\x80\x9cquotes\xe2\x80\x9d' $'latin-1 \xff\xfe' 'only a title' '' title ''
        $'back\\slash "q" <a> trailing\x7f  ' '%41 literal')
coil=MSKLEELLKKNEELEKKVAELEKENAELKKKLEELEKKLAELEQKNKELEKKLAEL
{
  cat "$data/seqs.fa"
  for h in "${headers[@]}"; do printf '>%s\n%s\n' "$h" "$coil"; done
} >in.fa
nrec=$(grep -c '^>' in.fa)

run() { VELCORIN_CONFIG=/nonexistent "$bin/velcorin2" "$@" >/dev/null 2>>stderr; }
run --max-length 120 --gff3 r.gff3 --regions r.tsv --pscore 0.05 1 2 3 "$model/gen.dat" "$model/pos.dat" in.fa r.txt
run --max-length 120 --threads 3 --no-table --gff3 r3.gff3 --regions r3.tsv --pscore 0.05 1 2 3 "$model/gen.dat" \
  "$model/pos.dat" in.fa
cmp -s r.gff3 r3.gff3 || bad "GFF3 differs with --threads 3"
cmp -s r.tsv r3.tsv || bad "TSV differs with --threads 3"

# 1. The validator, on this run, a register-file run and an empty input.
validate() {
  local out
  out=$(gt gff3validator -typecheck so "$1" 2>&1) || true
  [ "$out" = "input is valid GFF3" ] || bad "$1: $out"
}
validate r.gff3
# Every byte of both files is printable ASCII, tab or newline: headers are encoded.
LC_ALL=C grep -q $'[^\t -~]' r.gff3 r.tsv && bad "a byte outside printable ASCII in the region files"
{
  cat "$data/known.pos"
  printf '>pos code\twith tab;%%\n%s\n%s*\n%s*\n' $'a title\twith tab' "$coil" \
    "$(printf 'abcdefg%.0s' 1 2 3 4 5 6 7 8)"
} >in.pos
run -pos --no-table --gff3 pos.gff3 1 2 3 "$model/gen.dat" "$model/pos.dat" in.pos
validate pos.gff3
grep -q '^pos%20code%09with%20tab%3B%25	' pos.gff3 || bad "register-file code not encoded as expected"
: >empty.fa
run --no-table --gff3 empty.gff3 --regions empty.tsv 1 2 3 "$model/gen.dat" "$model/pos.dat" empty.fa
validate empty.gff3
[ "$(cat empty.gff3)" = "##gff-version 3" ] || bad "empty input: GFF3 is not the version line alone"
[ "$(wc -l <empty.tsv)" = 1 ] || bad "empty input: TSV is not the header alone"

# 2. Seqids and Names of the hostile records (the last ones, one feature or
# more each) decode to their codes and titles; an empty code is "unnamed record_<n>".
decode() {
  local s=${1//\\/\\\\}
  printf '%b' "${s//%/\\x}"
}
mapfile -t seqids < <(sed -n 's/^##sequence-region \([^ ]*\) 1 [0-9]*$/\1/p' r.gff3)
first=$((${#seqids[@]} - ${#headers[@]}))
for k in "${!headers[@]}"; do
  seqid=${seqids[$((first + k))]}
  want=${codes[$k]}
  [ -n "$want" ] || want="unnamed record_$((nrec - ${#headers[@]} + k + 1))"
  [ "$(decode "$seqid")" = "$want" ] || bad "seqid $seqid does not decode to the code of header $k"
  attrs=$(awk -F'\t' -v id="$seqid" '$1 == id && $3 == "coiled_coil" { print $9; exit }' r.gff3)
  [ -n "$attrs" ] || { bad "no feature for $seqid"; continue; }
  name=$(tr ';' '\n' <<<"$attrs" | sed -n 's/^Name=//p')
  # One value in printable ASCII: a raw "," would make it a list, a raw "&" or byte >= 0x80 is not ours.
  ! [[ $seqid$name =~ [^\ -~]|[\;=\&,] ]] || bad "$seqid: a reserved or non-ASCII byte is not encoded"
  [ "$(decode "$name")" = "${titles[$k]}" ] || bad "Name of $seqid does not decode to the title of header $k"
done

# 3. Regions against the per-residue table: per scored record (counted by
# its ##sequence-region line, and by its table header), each region as
# "record start end segments lowest-p-score"; a segment ends where the
# register does not follow its predecessor's.  (No row of the table's
# p-scores lies within the rounding of 0.05, so the printed value decides.)
awk -F'\t' '/^##sequence-region / { k++ }
  $3 == "coiled_coil" {
    segs = $4 "-" $5 ":" substr($9, index($9, ";register=") + 10, 1)
    if (match($9, /register_segments=[^;]*/)) segs = substr($9, RSTART + 18, RLENGTH - 18)
    print k, $4, $5, segs, $6 }' r.gff3 >from_gff3
awk 'function close_run() { if (n > 0) print k, start, end, segs seg "-" end ":" r0, low; n = 0 }
  /^# Position/ { close_run(); k++; next }
  /^#/ { next }
  $4 < 0.05 {
    if (n == 0) { start = $1; segs = ""; seg = $1; r0 = $3; low = $4 }
    else if (index("abcdefg", $3) != index("abcdefg", prev) % 7 + 1) { segs = segs seg "-" end ":" r0 ","; seg = $1; r0 = $3 }
    end = $1; prev = $3; if ($4 < low) low = $4; n++; next
  }
  { close_run() }
  END { close_run() }' r.txt >from_table
# The table prints p-scores to 5 decimals, the files to 4 significant digits.
if ! awk 'NR == FNR { want[FNR] = $0; n = FNR; next }
  { split(want[FNR], w, " ")
    if ($1 != w[1] || $2 != w[2] || $3 != w[3] || $4 != w[4] || $5 - w[5] > 0.00005 || w[5] - $5 > 0.00005) {
      print "line " FNR ": GFF3 " $0 ", table " want[FNR]; bad = 1 } }
  END { if (FNR != n) { print "GFF3 has " FNR " regions, the table " n; bad = 1 }; exit bad }' \
  from_table from_gff3 >&2; then
  bad "GFF3 regions differ from the table's runs below the threshold"
fi
[ "$(wc -l <from_gff3)" -gt "${#headers[@]}" ] || bad "too few regions to compare"
grep -q 'yes$' r.tsv || bad "no region of a record cut by --max-length to compare"
grep -q ',' from_gff3 || bad "no region with a register change to compare"

# 4. The TSV: the GFF3's features, value for value.
awk -F'\t' -v OFS='\t' 'BEGIN { print "code", "start", "end", "length", "lowest_pscore", "best_score",
                                     "register", "register_segments", "truncated" }
  /^# [^ ]*: only the first / { cut[substr($1, 3, index($1, ":") - 3)] = 1 }
  $3 == "coiled_coil" {
    n = split($9, a, ";"); delete v
    for (i = 1; i <= n; i++) { eq = index(a[i], "="); v[substr(a[i], 1, eq - 1)] = substr(a[i], eq + 1) }
    segs = ("register_segments" in v) ? v["register_segments"] : $4 "-" $5 ":" v["register"]
    if (v["ID"] != $1 ":" $4 "-" $5) print "bad ID " v["ID"] > "/dev/stderr"
    print $1, $4, $5, $5 - $4 + 1, $6, v["best_score"], v["register"], segs, ($1 in cut) ? "yes" : "no" }' \
  r.gff3 >tsv_from_gff3
cmp -s tsv_from_gff3 r.tsv || { diff tsv_from_gff3 r.tsv | head >&2; bad "TSV differs from the GFF3"; }

if [ "$fails" -gt 0 ]; then
  echo "gff3_check: $fails failed checks (files kept in $work)" >&2
  trap - EXIT
  exit 1
fi
echo "gff3_check: $(grep -c coiled_coil r.gff3) regions of $nrec records validated and match the table"
