#!/usr/bin/env bash
# Runs velcorin2 at limits too large for the test suite's cases (records past
# 20000 residues in a register file, 100000-character header lines,
# 10000-character configuration lines, hundreds of megabytes of input) and
# prints what happened: exit status, the messages, the rows written and the
# peak memory, each with a verdict.
#   tests/stress.sh [megabytes for the large FASTA run, default 200]
# Needs gzip and GNU time (/usr/bin/time); uses its own build directory.
set -uo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
big_mb=${1:-200}
cmake -S . -B build-stress >/dev/null && cmake --build build-stress --target velcorin2 -j 2 >/dev/null || exit 2
bin=$root/build-stress/velcorin2
work=$(mktemp -d /tmp/vc2stress.XXXXXX)
trap 'rm -rf "$work"' EXIT
cd "$work"
cp "$root/data/genfreq.dat" g
cp "$root/data/posfreq.dat" p
export VELCORIN_CONFIG=$work/no-config HOME=$work
fails=0

# residues N [seed]: N residues of a helical-looking repeat, 60 to a line.
residues() { awk -v n="$1" 'BEGIN { s = "LKELEKKLEELKKKNEELAEK"; l = length(s)
  for (i = 0; i < n; i++) { printf "%s", substr(s, i % l + 1, 1); if (i % 60 == 59) printf "\n" }
  if (n % 60) printf "\n" }'; }
# registers N: N register letters a..g, 60 to a line.
registers() { awk -v n="$1" 'BEGIN { for (i = 0; i < n; i++) { printf "%c", 97 + i % 7; if (i % 60 == 59) printf "\n" }
  if (n % 60) printf "\n" }'; }
rows() { grep -c '^ *[0-9]' "$1" 2>/dev/null || echo 0; }
# check <label> <condition...>: prints the verdict of one case.
check() {
  local label=$1; shift
  if "$@"; then printf '  verdict: right (%s)\n' "$label"; else printf '  verdict: WRONG (%s)\n' "$label"; fails=1; fi
}
run() {  # run <args...>: status in $st, stdout in out.txt, stderr in err.txt (timestamps dropped)
  "$bin" "$@" >stdout.txt 2>stderr.raw
  st=$?
  grep -vE '^(Mon|Tue|Wed|Thu|Fri|Sat|Sun) |^$|^Done\.$' stderr.raw >err.txt
}
show() { printf '  status %s; stdout: %s; stderr: %s\n' "$st" "$(head -c 200 stdout.txt | tr '\n' '|')" \
  "$(head -c 200 err.txt | tr '\n' '|')"; }

echo "== 1. a register file whose parts exceed 20000 entries"
{ echo ">posbig"; echo "long register record"; residues 20500 | sed '$s/$/*/'; registers 20500 | sed '$s/$/*/'; } >big.pos
{ echo ">max exactly 20000"; residues 20000; } >long.fa
run -pos 1 2 3 g p big.pos out.txt
show
n=$(rows out.txt)
echo "  rows: $n"
check "cut to 20000 with a warning, no mismatch message" \
  test "$st" = 0 -a "$n" = 20000 -a "$(grep -c 'truncated' err.txt)" = 1 -a "$(grep -c erroneous err.txt)" = 0

echo "== 2. header lines of 100000 characters (FASTA and register file)"
long=$(head -c 100000 /dev/zero | tr '\0' 'H')
{ echo ">$long"; residues 40; echo "> x $long"; residues 40; } >head.fa
run 1 2 3 g p head.fa out.txt
show
c=$(sed -n 's/^# Sequence Code: //p' out.txt | head -1 | wc -c)
t=$(sed -n 's/^# Sequence Name: //p' out.txt | head -1 | wc -c)
echo "  code kept: $((c - 1)) characters, title kept: $((t - 1)) characters, rows: $(rows out.txt)"
check "names cut to 1023 characters, both records read" test "$st" = 0 -a "$c" = 1024 -a "$t" = 1024 -a "$(rows out.txt)" = 80
{ echo ">$long"; echo "$long"; residues 40 | sed '$s/$/*/'; registers 40 | sed '$s/$/*/'; } >head.pos
run -pos 1 2 3 g p head.pos out.txt
show
c=$(sed -n 's/^# Sequence Code: //p' out.txt | head -1 | wc -c)
check "register file: names cut, record read" test "$st" = 0 -a "$c" = 1024 -a "$(rows out.txt)" = 40

echo "== 3. a configuration file with 10000-character lines"
{ printf 'lib = '; for i in $(seq 5000); do printf '%d ' $((i % 7)); done; echo; } >conf.lib
{ head -c 10000 /dev/zero | tr '\0' '#'; echo; echo "genbnk = g"; echo "cctb = p"; echo "lib = 1 2 3"; } >conf.comment
{ printf 'genbnk = '; head -c 10000 /dev/zero | tr '\0' 'n'; echo; } >conf.name
VELCORIN_CONFIG=$work/conf.lib run g p long.fa out.txt
show
check "distances: the first seven are taken, the run goes on" test "$st" = 0 -a "$(rows out.txt)" = 20000
VELCORIN_CONFIG=$work/conf.comment run long.fa out.txt
show
check "a long comment is ignored" test "$st" = 0 -a "$(rows out.txt)" = 20000
VELCORIN_CONFIG=$work/conf.name run 1 2 3 g p long.fa out.txt
show
check "a 10000-character file name is refused with error 3" \
  grep -q '^ERROR: Error while opening file file name too long for internal buffer$' stdout.txt

echo "== 4. peak memory over many records: ${big_mb} MB against $((big_mb / 10)) MB of FASTA"
# One chunk of records of mixed lengths (many below the window, some long),
# repeated to the size wanted; the table goes to /dev/null.
awk 'BEGIN { srand(7); s = "LKELEKKLEELKKKNEELAEKMSTPGDRWYQHCFIVNA"; l = length(s)
  for (r = 0; r < 20000; r++) { n = 10 + int(rand() * 80); if (r % 50 == 0) n = 3000
    printf ">r%d some title\n", r; line = ""
    for (i = 0; i < n; i++) { line = line substr(s, int(rand() * l) + 1, 1); if (length(line) == 60) { print line; line = "" } }
    if (line != "") print line } }' >chunk.fa
chunk_kb=$(( $(stat -c %s chunk.fa) / 1024 ))
reps() { echo $(( ($1 * 1024 + chunk_kb - 1) / chunk_kb )); }
small_reps=$(reps $((big_mb / 10))); big_reps=$(reps "$big_mb")
for i in $(seq "$small_reps"); do cat chunk.fa; done >small.fa
for i in $(seq "$big_reps"); do cat chunk.fa; done >big.fa
rm -f chunk.fa
measure() {  # measure <fasta>: "seconds peak_kb status"
  /usr/bin/time -f "%e %M" -o time.txt "$bin" 1 2 3 g p "$1" /dev/null >/dev/null 2>&1
  echo "$(cat time.txt) $?"
}
read -r t1 m1 s1 < <(measure small.fa)
read -r t2 m2 s2 < <(measure big.fa)
echo "  $(( $(stat -c %s small.fa) / 1048576 )) MB: ${t1} s, peak ${m1} kB, status $s1"
echo "  $(( $(stat -c %s big.fa) / 1048576 )) MB: ${t2} s, peak ${m2} kB, status $s2"
rm -f small.fa big.fa
check "peak memory flat (within 10%)" test "$s1" = 0 -a "$s2" = 0 -a $((m2 * 10)) -le $((m1 * 11))

[ "$fails" = 0 ] && echo "all cases behaved as they should" || echo "some cases did NOT behave as they should"
exit $fails
