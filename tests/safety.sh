#!/usr/bin/env bash
# Exit statuses and file safety of velcorin2 and velcorin2-counts, end to
# end, as two tables of rows, and memory that does not grow with the input.
#   safety.sh <dir of the programs> <test model dir>
# Every row runs one command in a scratch folder where t.txt holds "keep";
# the status and a text that stdout or stderr must hold are given, and
# t.txt must still hold "keep" afterwards unless the run succeeded.
# External tools follow tests/need_tool.sh: a missing strace or gs fails the
# script, naming its Debian package, unless VELCORIN_SKIP_STRACE=1 or
# VELCORIN_SKIP_GS=1 skips those checks (and says so); the rows run as
# another user need root and are skipped, with a message, without it.
set -u
bin=$(cd "$1" && pwd) model=$(cd "$2" && pwd) data=$(cd "$(dirname "$0")/data" && pwd)
need_tool=$(cd "$(dirname "$0")" && pwd)/need_tool.sh
work=$(mktemp -d)
trap 'chmod -R u+w "$work"; rm -rf "$work"' EXIT
cd "$work" || exit 1
V=$bin/velcorin2 C=$bin/velcorin2-counts G=$model/gen.dat P=$model/pos.dat
export VELCORIN_CONFIG=$work/none HOME=$work TZ=UTC
failures=0
fail() { echo "FAILED: $*"; failures=$((failures + 1)); }
# needs WHAT NAME PACKAGE: status 0 when the tool NAME is installed; else a
# failure, or with VELCORIN_SKIP_<NAME>=1 a note that WHAT is skipped.
needs() {
  local said
  said=$(bash "$need_tool" "$2" "$3") && return 0
  case $said in skipped:*) echo "$1: $said" ;; *) fail "$1: $said" ;; esac
  return 1
}

# row <name> <status> <text> <command...>
row() {
  local name=$1 want=$2 text=$3 status
  shift 3
  echo keep >t.txt
  timeout 20 "$@" >out.log 2>&1 </dev/null
  status=$?
  [ "$status" = "$want" ] || fail "$name: status $status, not $want: $(head -c 300 out.log)"
  grep -qF -- "$text" out.log || fail "$name: no '$text' in: $(head -c 300 out.log)"
  [ "$want" = 0 ] || [ "$(cat t.txt)" = keep ] || fail "$name: t.txt was changed"
}
same() { cmp -s "$1" "$2" || fail "$3: $1 and $2 differ"; }

cp "$data/seqs.fa" seqs.fa
cp "$data/known.pos" known.pos
python3 - "$G" "$P" <<'EOF'
import struct, sys
g, p = open(sys.argv[1], 'rb').read(), open(sys.argv[2], 'rb').read()
flip = bytearray(g); flip[200] ^= 0x10
neg = bytearray(p); neg[900:904] = struct.pack('>i', -5)
# A negative pair total of register a in a GenFreq file (its counts are fine).
gneg = bytearray(g); gneg[118:122] = struct.pack('>i', -5)
# One more pair of two leucines in registers b and a: its total no longer sums.
pair = bytearray(p); at = 40 + 4 * (7 + 140 + 49 + 7); pair[at:at + 4] = struct.pack('>i', struct.unpack('>i', p[at:at + 4])[0] + 1)
for name, b in [('flip.dat', flip), ('neg.dat', neg), ('gneg.dat', gneg), ('pair.dat', pair), ('tail.dat', g + b'\n'), ('twice.dat', g + g),
                ('short.dat', g[:5000])]:
    open(name, 'wb').write(bytes(b))
EOF
printf 'genbnk = %s\ncctb = %s\nlib = 1 2 3\nout = t.txt\n' "$G" "$P" >out.conf
mkdir dir
gzip -c seqs.fa >hidden.fa
printf 'no header line here\n' >norec.fa
printf '>x1\r\nMSKLEELLKKNEELEKKVAELEKENAELKKKLEOJLEKKLAELEQKNKELEKKLAEL\r\n' >crlf.fa
printf '>cut\ntitle\nLKELEKKLEELKKKNEELAEKLKELEKKLEEL*\nabcdefgabcdefgabcdefgabcdefgabcd' >cut.pos
M=(1 2 3 "$G" "$P")

# ---- Exit statuses: a failure is never a success, and never empties t.txt.
row count-flipped-bit 2 "<GenFreq> file: a total is not the sum of its counts" "$V" 1 2 3 flip.dat "$P" seqs.fa t.txt
row count-negative 2 "<PosFreq> file: a negative count" "$V" 1 2 3 "$G" neg.dat seqs.fa t.txt
row count-negative-total 2 "<GenFreq> file: a negative count" "$V" 1 2 3 gneg.dat "$P" seqs.fa t.txt
row count-pair-total 2 "<PosFreq> file: a total is not the sum of its counts" "$V" 1 2 3 "$G" pair.dat seqs.fa t.txt
row count-trailing 2 "<GenFreq> file: bytes after the last table" "$V" 1 2 3 tail.dat "$P" seqs.fa t.txt
row count-twice 2 "<GenFreq> file: bytes after the last table" "$V" 1 2 3 twice.dat "$P" seqs.fa t.txt
row count-short 2 "ERROR: Error while reading from <GenFreq> file" "$V" 1 2 3 short.dat "$P" seqs.fa t.txt
row missing-gz 2 "ERROR: Error while opening file missing.fa.gz" "$V" "${M[@]}" missing.fa.gz t.txt
cp seqs.fa fake.fa.gz
row not-really-gz 2 "ERROR: Error while reading from fake.fa.gz" "$V" "${M[@]}" fake.fa.gz t.txt
row directory 2 "ERROR: Error while reading from dir" "$V" "${M[@]}" dir t.txt
row word-left-over 255 "Usage: velcorin2" "$V" "${M[@]}" seqs.fa t.txt c.log s.log extra
row bad-distance 255 "distance 9 is outside 0 to 6" "$V" 1 9 3 "$G" "$P" seqs.fa t.txt
row switch-after-out 2 "ERROR: Unrecognized switch: -q" env VELCORIN_CONFIG=out.conf "$V" -q seqs.fa
row plot-unopenable 2 "cannot open nodir/tr.ps as w, 577: No such file or directory" "$V" -g --plot nodir/tr.ps "${M[@]}" seqs.fa t.txt
row full-disk 2 "ERROR: Error while writing in /dev/full" "$V" "${M[@]}" seqs.fa /dev/full
# (SIGPIPE ignored: a write into the dead command fails instead of ending the run.)
row failing-command 2 "ERROR: Error while writing in |cat >/dev/full" \
  sh -c 'trap "" PIPE; exec "$@"' sh "$V" "${M[@]}" seqs.fa '|cat >/dev/full'
row counts-directory 2 "ERROR: Error while reading from dir" "$C" -o c.dat genfreq seqs.fa dir
row counts-incomplete 2 "record 1 is incomplete" "$C" -o c.dat posfreq cut.pos
"$V" "${M[@]}" seqs.fa '|head -c 100 >head.out' >/dev/null 2>&1 && fail "an output command that stops reading: status 0"
[ "$(wc -c <head.out)" = 100 ] || fail "an output command that stops reading got $(wc -c <head.out) bytes, not 100"
row compressed-unnamed 0 "Done." "$V" "${M[@]}" hidden.fa hidden.txt
[ "$(stat -c %a hidden.txt)" = 600 ] || fail "outputs: not created 0600"
"$V" "${M[@]}" seqs.fa plain.txt >/dev/null 2>&1
same hidden.txt plain.txt compressed-unnamed
row compressed-stdin 0 "Done." sh -c "\"$V\" ${M[*]} - stdin.txt <hidden.fa"
same stdin.txt plain.txt compressed-stdin
row no-records 0 "velcorin2: warning: no records found in norec.fa" "$V" "${M[@]}" norec.fa n.txt
row pos-incomplete 0 "erroneous .pos file!" "$V" -pos "${M[@]}" cut.pos cut.txt
grep -q "^      32 " cut.txt || fail "pos-incomplete: the last record was not scored"
row crlf-and-OJ 0 "Done." "$V" "${M[@]}" crlf.fa crlf.txt
grep -q $'^# Sequence Code: x1$' crlf.txt || fail "crlf: the code kept its carriage return"
if needs "I/O failure injection" strace strace; then
  # Each read of each input, each write and the close of each output failing
  # in turn: never status 0.  (Outputs are written a batch of records at a
  # time: the input holds several batches.)
  for i in $(seq 30); do cat seqs.fa; done >many.fa
  w=$work
  for site in many.fa:read:1 many.fa:read:2 "$G":read:1 "$G":read:2 "$G":read:3 "$P":read:1 "$P":read:2 \
              "$P":read:3 $w/inj.txt:write:1 $w/inj.txt:write:2 $w/inj.txt:write:3 $w/c.log:write:1 \
              $w/c.log:write:2 $w/c.log:write:3 $w/s.log:write:1 $w/s.log:write:2 $w/s.log:write:3 \
              $w/inj.txt:close:1 $w/c.log:close:1 $w/s.log:close:1; do
    IFS=: read -r path call n <<<"$site"
    rm -f inj.txt c.log s.log
    strace -f -o strace.log -P "$path" -e trace="$call" -e inject="$call:error=EIO:when=$n" \
      "$V" -v -p 0.05 "${M[@]}" many.fa inj.txt c.log s.log >/dev/null 2>&1 && fail "injected $site: status 0"
    grep -q INJECTED strace.log || fail "injected $site: no such call"
  done
fi

# Out of memory or threads: a message and status 2, never an abort, and no scratch file left.
if ! ldd "$V" 2>/dev/null | grep -qE 'lib[at]san'; then
  { echo '>long'; yes LKEAIQRDNVSTLKEAIQRDNVSTLKEAIQRDNVSTLKEAIQRDNVST | head -n 40000; } >long.fa
  row out-of-memory 2 "ERROR: Not Enough Memory" sh -c "ulimit -v 300000; exec \"$V\" --max-length 0 -g --plot oom.ps ${M[*]} long.fa oom.txt"
  row out-of-threads 2 "ERROR: Not Enough Memory to start thread" sh -c "ulimit -v 400000; exec \"$V\" --threads 100 -g --plot oom.ps ${M[*]} seqs.fa oom.txt"
  [ -z "$(ls oom.ps.* 2>/dev/null)" ] || fail "out of memory: the plot's scratch file stayed behind"
fi

# A name starting with ~user is that user's home directory.
me=$(id -un) myhome=$(getent passwd "$(id -un)" | cut -d: -f6)
if [ -d "$myhome" ] && [ -x "$myhome" ]; then
  row tilde-user 0 "Done." "$V" "${M[@]}" "~$me/$(realpath --relative-to="$myhome" "$work")/seqs.fa" tilde.txt
  "$V" "${M[@]}" seqs.fa plain.txt >/dev/null 2>&1
  same tilde.txt plain.txt tilde-user
fi

# ---- Memory follows the records in flight, not the size of the input: five
# times the records may not raise the peak by 16 MB (the table text of the
# larger input alone is 66 MB).
for i in $(seq 200); do cat seqs.fa; done >small.fa
for i in 1 2 3 4 5; do cat small.fa; done >big.fa
peak_kb() {
  ASAN_OPTIONS=quarantine_size_mb=1 python3 -c 'import resource, subprocess, sys
subprocess.run(sys.argv[1:], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
print(resource.getrusage(resource.RUSAGE_CHILDREN).ru_maxrss)' "$@"
}
small=$(peak_kb "$V" --threads 2 "${M[@]}" small.fa /dev/null)
big=$(peak_kb "$V" --threads 2 "${M[@]}" big.fa /dev/null)
[ "$big" -le $((small + 16384)) ] || fail "memory: a peak of $big kB on five times the input that peaks at $small kB"

# ---- File safety: no input and no other output is ever destroyed.
cp seqs.fa s.fa
row same-as-input 2 "s.fa: refused, it is the same file as the sequence input s.fa" "$V" "${M[@]}" s.fa s.fa
same s.fa seqs.fa same-as-input
cp "$G" g.dat && cp "$P" p.dat
printf 'genbnk = %s\ncctb = %s\nlib = 1 2 3\n' "$G" "$P" >model.conf
row words-shift 2 "p.dat: refused, it is a PosFreq count file" env VELCORIN_CONFIG=model.conf "$V" g.dat p.dat s.fa t.txt
same p.dat "$P" words-shift
same s.fa seqs.fa words-shift
row sequences-as-output 2 "s.fa: refused, it holds sequences or registers" "$V" "${M[@]}" known.pos s.fa
row two-outputs 2 "t.txt: refused, the table and the coil log would both be written there" "$V" "${M[@]}" seqs.fa t.txt t.txt
row two-stdout 2 "-: refused, the table and the coil log would both be written there" "$V" "${M[@]}" seqs.fa - -
row report-full-disk 2 "ERROR: Error while writing in /dev/full" "$V" --html /dev/full "${M[@]}" seqs.fa /dev/null
row summary-full-disk 2 "ERROR: Error while writing in /dev/full" "$V" --summary /dev/full "${M[@]}" seqs.fa /dev/null
row report-is-input 2 "s.fa: refused, it is the same file as the sequence input s.fa" "$V" --html s.fa "${M[@]}" s.fa t.txt
row report-is-table 2 "t.txt: refused, the table and the HTML report would both be written there" \
  "$V" --html t.txt "${M[@]}" seqs.fa t.txt
row summary-stdout 2 "-: refused, the table and the summary would both be written there" "$V" --summary - "${M[@]}" seqs.fa -
# Files are known by what is open: standard input, a fallback .gz name, the
# configuration file, a name swapped for a symlink after the check.
{ echo; cat seqs.fa; } >blank.fa && cp blank.fa blank0.fa && cp hidden.fa h.fa.gz && cp hidden.fa in.fa.gz
row stdin-is-output 2 "blank.fa: refused, it is the same file as the sequence input -" sh -c "\"$V\" ${M[*]} - blank.fa <blank.fa"
row stdin-gz-is-output 2 "h.fa.gz: refused, it is the same file as the sequence input -" sh -c "\"$V\" ${M[*]} - h.fa.gz <h.fa.gz"
row dev-stdin-is-output 2 "/dev/stdin: refused, it is the same file as the sequence input -" sh -c "\"$V\" ${M[*]} - /dev/stdin <h.fa.gz"
row fallback-is-output 2 "in.fa.gz: refused, it is the same file as the sequence input in.fa" "$V" "${M[@]}" in.fa in.fa.gz
same blank.fa blank0.fa stdin-is-output && same h.fa.gz hidden.fa stdin-gz-is-output && same in.fa.gz hidden.fa fallback
printf 'genbnk = %s\ncctb = %s\nlib = 1 2 3\n' "$G" "$P" >my.conf && cp my.conf my0.conf
for at in "seqs.fa my.conf" "seqs.fa t.txt my.conf" "--regions my.conf seqs.fa t.txt"; do
  cp my0.conf my.conf
  row "config-as-output ($at)" 2 "my.conf: refused, it is the same file as the configuration file $work/my.conf" \
    env VELCORIN_CONFIG="$work/my.conf" "$V" $at
done
same my.conf my0.conf config-as-output && cp my0.conf my.conf
VELCORIN_CONFIG=my.conf "$V" seqs.fa plain.txt >/dev/null 2>&1 && VELCORIN_CONFIG=my.conf "$V" --no-table --gff3 g.gff3 seqs.fa >/dev/null 2>&1
VELCORIN_CONFIG=my.conf "$V" seqs.fa /dev/stdout >stdout.txt 2>/dev/null && same stdout.txt plain.txt "/dev/stdout as the table"
VELCORIN_CONFIG=my.conf "$V" --no-table --gff3 /proc/self/fd/1 seqs.fa >stdout.gff3 2>/dev/null && same stdout.gff3 g.gff3 "fd 1 as the GFF3 file"
row stdout-twice 2 "/dev/stdout: refused, the table and the GFF3 file would both be written there" "$V" --gff3 /dev/stdout "${M[@]}" seqs.fa -
row stdout-closed 2 "-: refused, standard output is closed" sh -c "\"$V\" ${M[*]} - - <seqs.fa >&-"
ln -s real.out dangling.out
row dangling-symlink 2 "dangling.out: refused, the table and the region table would both be written there" "$V" --regions dangling.out "${M[@]}" seqs.fa real.out
# The output becomes a symlink to a count file while the PosFreq file is read (from a FIFO).
cp "$G" g.dat && mkfifo pos.fifo && echo keep >swapped.txt
(exec 3>pos.fifo; head -c 2 "$P" >&3; sleep 1; ln -s g.dat swap.tmp && mv -T swap.tmp swapped.txt; tail -c +3 "$P" >&3) &
row swapped-for-symlink 2 "swapped.txt: refused, it is the same file as the GenFreq file g.dat" "$V" 1 2 3 g.dat pos.fifo seqs.fa swapped.txt
wait
same g.dat "$G" swapped-for-symlink
row gzip-through-pipe 0 "Done." bash -c "\"$V\" ${M[*]} <(cat hidden.fa) piped.txt"
same piped.txt plain.txt gzip-through-pipe
mkfifo fifo.ps
row plot-fifo 2 "cannot open fifo.ps as w, 577: not a regular file" "$V" -g --plot fifo.ps "${M[@]}" seqs.fa t.txt
ln -s victim2 link.ps
row plot-symlink 2 "cannot open link.ps as w, 577: Too many levels of symbolic links" "$V" -g --plot link.ps "${M[@]}" seqs.fa t.txt
echo theirs >victim && ln victim hard.ps
row plot-hard-link 0 "Done." "$V" -g --plot hard.ps "${M[@]}" seqs.fa h.txt
[ "$(cat victim)" = theirs ] || fail "plot-hard-link: the linked file was written into"
[ "$(stat -c %a hard.ps)" = 600 ] || fail "plot: not created 0600"
"$V" -g --plot both.ps "${M[@]}" seqs.fa b1.txt >/dev/null 2>&1 & "$V" -g --plot both.ps "${M[@]}" seqs.fa b2.txt >/dev/null 2>&1
wait
same both.ps hard.ps concurrent-plots
[ -z "$(ls both.ps.* hard.ps.* 2>/dev/null)" ] || fail "plot: a scratch file stayed behind"
if [ "$(id -u)" != 0 ]; then
  echo "rows as another user: skipped, they need root"
elif needs "rows as another user" setpriv util-linux; then
  chmod 711 "$work" && cp "$G" "$P" "$work/" && chmod 644 "$work"/*.dat && M=(1 2 3 "$work/$(basename "$G")" "$work/$(basename "$P")")
  mkdir -m 1777 shared && echo root >shared/tr.ps && chmod 644 shared/tr.ps && cp seqs.fa shared/ && chmod 644 shared/seqs.fa
  row plot-foreign 2 "another user's file in a shared directory" setpriv --reuid=nobody --regid=nogroup --clear-groups \
    "$V" -g --plot shared/tr.ps "${M[@]}" shared/seqs.fa shared/t.txt
  # Without the sticky bit another user's file can be replaced as a whole (never written into).
  mkdir -m 777 open && echo root >open/tr.ps && chmod 644 open/tr.ps
  row plot-foreign-replaceable 0 "Done." setpriv --reuid=nobody --regid=nogroup --clear-groups \
    "$V" -g --plot open/tr.ps "${M[@]}" shared/seqs.fa open/t.txt
  M=(1 2 3 "$G" "$P")
fi
# A failed or interrupted run leaves the old plot and no scratch file.
gzip -c small.fa | head -c 2000 >trunc.fa.gz && echo old >kept.ps
row plot-truncated-input 2 "ERROR: Error while reading from trunc.fa.gz" "$V" -g --plot kept.ps "${M[@]}" trunc.fa.gz p1.txt
row plot-full-disk 2 "ERROR: Error while writing in /dev/full" "$V" -g --plot kept.ps "${M[@]}" seqs.fa /dev/full
row plot-failing-command 2 "ERROR: Error while writing in |exit 3" sh -c 'trap "" PIPE; exec "$@"' sh "$V" -g --plot kept.ps "${M[@]}" seqs.fa '|exit 3'
[ "$(cat kept.ps)" = old ] || fail "a failed run replaced the plot"
mkfifo sig.fifo
for sig in TERM INT; do
  st=$(set -m; "$V" -g --plot sig.ps "${M[@]}" sig.fifo sig.txt >/dev/null 2>&1 & pid=$!
       exec 3>sig.fifo; printf '>a\n' >&3; sleep 1; kill -$sig $pid; wait $pid; echo $?)
  [ "$st" = $((128 + $(kill -l $sig))) ] || fail "SIG$sig: status $st"
  [ -z "$(ls sig.ps.* kept.ps.* 2>/dev/null)" ] || fail "SIG$sig: the plot's scratch file stayed behind"
done
printf '>x hi) show (%s/pwned) (w) file dup (by plot) writestring closefile (\n%s\n' "$work" \
  MSKLEELLKKNEELEKKVAELEKENAELKKKLEELEKKLAELEQKNKELEKKLAEL >evil.fa
row plot-injection 0 "Done." "$V" -g --plot evil.ps "${M[@]}" evil.fa e.txt
if needs "plot-injection rendering" gs ghostscript; then
  gs -q -dBATCH -dNOPAUSE -sDEVICE=nullpage evil.ps >gs.log 2>&1 || fail "plot-injection: the page does not render: $(head -c 300 gs.log)"
fi
[ ! -e pwned ] || fail "plot-injection: a title ran as PostScript"
printf 'genbnk = %s\ncctb = %s\nlib = 1 2 3\nlog = |touch${IFS}RAN\n' "$G" "$P" >cmd.conf
row no-command-before-accepted 2 "Unrecognized switch: -q" env VELCORIN_CONFIG=cmd.conf "$V" -q seqs.fa t.txt
[ ! -e RAN ] || fail "a configuration command ran before the command line was accepted"
"$V" -v "${M[@]}" seqs.fa closed.txt >/dev/null 2>&-
grep -qE "^[A-Z][a-z]{2} [A-Z][a-z]{2} [ 0-9][0-9] " closed.txt && fail "closed stderr: time stamps landed in the table"
row counts-fifo 2 "fifo.ps is not a regular file; refused" "$C" -f -o fifo.ps genfreq seqs.fa
[ -p fifo.ps ] || fail "counts-fifo: the FIFO was replaced"

# The counting tool never replaces a file it read, and writes no line its readers refuse.
for i in $(seq 10); do cat seqs.fa; done >bg.fa && cp bg.fa bg0.fa && cp known.pos c.pos
row counts-output-is-input 2 "c.pos: refused, it is the same file as the input c.pos" "$C" -f -o c.pos posfreq c.pos
cp known.pos c.pos
row counts-output-is-stdin 2 "c.pos: refused, it is the same file as the input -" sh -c "\"$C\" -f -o c.pos posfreq <c.pos"
row counts-calibrate-output-is-input 2 "bg.fa: refused, it is the same file as the input bg.fa" \
  "$C" -f -o bg.fa --distances 1,2,3 calibrate "$G" "$P" bg.fa
same c.pos known.pos counts-output-is-input && same bg.fa bg0.fa counts-calibrate-output-is-input
cp seqs.fa background_part_1.fa
"$C" -o many.cal --distances 1,2,3 calibrate "$G" "$P" $(for i in $(seq 300); do echo background_part_1.fa; done) \
  >/dev/null 2>&1 || fail "counts-many-sources: status $?"
row calib-many-sources 0 "Done." "$V" --calib many.cal "${M[@]}" seqs.fa many.txt

# ---- An installed program finds the configuration installed beside it.
if [ -f "$bin/cmake_install.cmake" ] && cmake --install "$bin" --prefix "$work/inst" >/dev/null 2>&1; then
  row installed-config 0 "Done." env -u VELCORIN_CONFIG HOME="$work/nohome" "$work/inst/bin/velcorin2" seqs.fa inst.txt
  VELCORIN_CONFIG="$work/inst/share/velcorin2/velcorin2.conf" "$V" seqs.fa named.txt >/dev/null 2>&1
  same inst.txt named.txt installed-config
  row build-tree-config 255 "Couldn't find config file" env -u VELCORIN_CONFIG HOME="$work/nohome" "$V" seqs.fa b.txt
  # A configuration that another user can change is refused, not run.
  if [ "$(id -u)" = 0 ]; then
    chown nobody "$work/inst/share/velcorin2"
    row installed-foreign-dir 2 "velcorin2.conf: refused, the directory $work/inst/share/velcorin2 belongs to another user" \
      env -u VELCORIN_CONFIG HOME="$work/nohome" "$work/inst/bin/velcorin2" seqs.fa f.txt
    chown root "$work/inst/share/velcorin2"
  fi
  cp out.conf .velcorin2 && chmod 664 .velcorin2
  row home-config-group-writable 2 "refused, $work/.velcorin2 is writable by group or others" env -u VELCORIN_CONFIG "$V" seqs.fa
  rm .velcorin2
  # A program path too long for the lookup's buffer is not cut to an ancestor's.
  a=$(printf 'a%.0s' $(seq 200)) b=$(printf 'b%.0s' $(seq 200)) c=$(printf 'c%.0s' $(seq 200))
  mkdir -p "lp/$a/$b/$c" "lp/$a/share/velcorin2" && cp "$work/inst/bin/velcorin2" "lp/$a/$b/$c/"
  cp "$work/inst/share/velcorin2/velcorin2.conf" "lp/$a/share/velcorin2/"
  row long-program-path 255 "Couldn't find config file" env -u VELCORIN_CONFIG HOME="$work/nohome" "$work/lp/$a/$b/$c/velcorin2" seqs.fa lp.txt
  # A relative prefix: the installed configuration names its files absolutely.
  cmake --install "$bin" --prefix relinst >/dev/null 2>&1
  grep -q "^genbnk = $work/relinst/share/velcorin2/genfreq.dat$" relinst/share/velcorin2/velcorin2.conf ||
    fail "relative prefix: $(grep genbnk relinst/share/velcorin2/velcorin2.conf)"
fi

[ "$failures" = 0 ] && echo "all rows passed"
exit $((failures > 0))
