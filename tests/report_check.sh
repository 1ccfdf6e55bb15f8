#!/usr/bin/env bash
# The pictures and summaries of a run, on the example and on records with
# hostile headers (markup, quotes, "&", invalid UTF-8, control bytes, a
# direction override), each with -p logs, --regions, --summary and --html:
#  1. every output is the same with --threads 3 (the report but for its time line);
#  2. the report passes `xmllint --html`, every profile in it `xmllint`;
#  3. the summary agrees with the region table and the per-sequence log;
#  4. headless Chromium loads the report: its table has one row per record
#     with a region, it holds no element or attribute the program did not
#     write, and a screenshot is taken;
#  5. --html-max caps the profiles and says so;
#  6. under a terminal the progress line shows; with standard error in a
#     file no progress byte is written; --quiet leaves standard error empty
#     (a run without warnings).
#   report_check.sh <dir of the programs> <test model dir>
# Needs xmllint (libxml2-utils), chromium and script (bsdutils); a missing
# one fails the check unless VELCORIN_SKIP_<NAME>=1 (tests/need_tool.sh).
set -euo pipefail
export LC_ALL=C VELCORIN_CONFIG=/nonexistent
bin=$(cd "$1" && pwd) model=$(cd "$2" && pwd)
root=$(cd "$(dirname "$0")/.." && pwd)
for tool in "BROWSER chromium chromium" "XMLLINT libxml2-utils xmllint" "SCRIPT bsdutils script"; do
  said=0
  # shellcheck disable=SC2086
  line=$(bash "$root/tests/need_tool.sh" $tool) || said=$?
  if [ $said = 77 ]; then echo "report_check: $line"; exit 77; fi
  if [ $said != 0 ]; then echo "report_check: $line" >&2; exit 1; fi
done
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"
fails=0
bad() { echo "report_check: $*" >&2; fails=$((fails + 1)); }
M=(--calib "$model/calib.dat" 1 2 3 "$model/gen.dat" "$model/pos.dat")
coil=MKQLEDKVEELLSKNYHLENEVARLKKLVGERMKQLEDKVEELLSKNYHLENEVARLKKLVGER
{
  printf '>evil<script>alert(1)</script>&amp;"q" <b>bold</b> <img src=x onerror=alert(2)> \xff\xfe\xc3\x28 \x01\x1b[31m caf\xc3\xa9 \xef\xbf\xbf\n%s\n' "$coil"
  printf '>"><svg/onload=alert(3)> \xe2\x80\xae reversed\x7f\n%s\n' "$coil"
  printf ">it's 'single' & <!-- comment --> ]]>\n%s\n>short too short to score\nMKQLEDKV\n" "$coil"
} >hostile.fa
cp "$root/examples/example.fa" example.fa

browser() {  # browser <args...>: headless Chromium, closed network, fresh profile
  timeout 120 chromium --headless --no-sandbox --disable-gpu --disable-quic --no-first-run \
    --disable-background-networking --disable-component-update --disable-sync \
    --user-data-dir="$(mktemp -d "$work/profile.XXXXXX")" "$@" 2>/dev/null
}

for input in example hostile; do
  extra=()
  [ $input = hostile ] && extra=(-g --plot "$work/$input.ps")
  for t in 1 3; do
    "$bin/velcorin2" --threads $t "${extra[@]}" --no-table --regions $input.$t.tsv --summary $input.$t.sum \
      --html $input.$t.html -p 0.05 "${M[@]}" $input.fa $input.$t.coil $input.$t.seq 2>/dev/null >/dev/null ||
      bad "$input: status $? with --threads $t"
  done
  for f in tsv sum coil seq; do cmp -s $input.1.$f $input.3.$f || bad "$input: .$f differs with --threads 3"; done
  cmp -s <(grep -v '^<p class="time">' $input.1.html) <(grep -v '^<p class="time">' $input.3.html) ||
    bad "$input: the report differs with --threads 3 beyond its time line"
  [ "$(grep -c '^<p class="time">' $input.1.html)" = 1 ] || bad "$input: not one time line"
  xmllint --html --noout $input.1.html 2>xmllint.err || true
  [ -s xmllint.err ] && bad "$input: xmllint --html: $(head -3 xmllint.err)"
  browser --dump-dom "file://$work/$input.1.html" >$input.dom || bad "$input: chromium could not load the report"
  browser --window-size=1100,1400 --screenshot="$work/$input.png" "file://$work/$input.1.html" >/dev/null || true
  [ -s $input.png ] || bad "$input: no screenshot"
  python3 - "$input" >python.out 2>&1 <<'EOF' || bad "$(cat python.out)"
import collections, functools, html.parser, re, subprocess, sys, urllib.parse
open = functools.partial(open, encoding='utf-8', errors='surrogateescape')
name = sys.argv[1]
fail = []
# Profiles: every one a well-formed XML document.
page = open(f'{name}.1.html').read()
svgs = [urllib.parse.unquote_to_bytes(m) for m in re.findall(r'src="data:image/svg\+xml,([^"]*)"', page)]
for i, svg in enumerate(svgs):
    with open(f'{name}.{i}.svg', mode='wb', encoding=None, errors=None) as out: out.write(svg)
    r = subprocess.run(['xmllint', '--noout', f'{name}.{i}.svg'], capture_output=True, text=True)
    if r.returncode or r.stderr: fail.append(f'profile {i}: {r.stderr[:300]}')
# The summary against the region table and the per-sequence log.
rows = [l.rstrip('\n').split('\t') for l in open(f'{name}.1.sum')][1:]
regions = collections.defaultdict(list)
for l in list(open(f'{name}.1.tsv'))[1:]:
    f = l.split('\t')
    regions[f[0]].append((int(f[3]), float(f[4]), f[4]))
log = re.findall(r'P-score = (\S+)\n\tScore = (\S+)', open(f'{name}.1.seq').read())
records = open(f'{name}.fa').read().count('\n>') + 1
if len(rows) != records: fail.append(f'summary: {len(rows)} rows for {records} records')
scored = [r for r in rows if r[2] != '0']
if len(scored) != len(log): fail.append(f'summary: {len(scored)} scored, the log has {len(log)}')
for r, (pscore, score) in zip(scored, log):
    if r[9] != pscore or float(r[8]) != float(score): fail.append(f'summary {r[0]}: {r[8:10]} but the log {score} {pscore}')
for r in rows:
    got = regions.get(r[0], [])
    if int(r[4]) != len(got) or int(r[5]) != sum(g[0] for g in got):
        fail.append(f'summary {r[0]}: {r[4]} regions of {r[5]} residues, the region table {len(got)}')
    if got and min(got)[2] != r[7] and min(g[1] for g in got) != float(r[7]):
        fail.append(f'summary {r[0]}: lowest p-score {r[7]}')
# The page as the browser built it.
class Page(html.parser.HTMLParser):
    allowed = {'html', 'head', 'meta', 'title', 'style', 'body', 'div', 'h1', 'h2', 'p', 'table', 'thead',
               'tbody', 'tr', 'th', 'td', 'a', 'img', 'input', 'script'}
    def __init__(self):
        super().__init__()
        self.tags, self.rows, self.table, self.body = collections.Counter(), 0, False, False
    def handle_starttag(self, tag, attrs):
        self.tags[tag] += 1
        if tag not in self.allowed: fail.append(f'an element <{tag}> in the page')
        for k, v in attrs:
            if k.startswith('on') or (k in ('src', 'href') and not re.match(r'(data:image/svg\+xml,|#)', v or '')):
                fail.append(f'an attribute {k}={v!r:.60} on <{tag}>')
        self.table |= tag == 'table' and dict(attrs).get('id') == 'records'
        self.body |= tag == 'tbody' and self.table
        self.rows += tag == 'tr' and self.body
    def handle_endtag(self, tag):
        if tag == 'table': self.table = self.body = False
        if tag == 'tbody': self.body = False
p = Page()
p.feed(open(f'{name}.dom').read())
if p.tags['script'] != 1: fail.append(f'{p.tags["script"]} script elements')
if p.rows != len(regions): fail.append(f'the table has {p.rows} rows, the region table {len(regions)} records')
if len(svgs) != len(regions) or p.tags['img'] != len(regions): fail.append(f'{len(svgs)} profiles for {len(regions)} records')
if fail: sys.exit('\n'.join(f'{name}: {f}' for f in fail))
EOF
done

# The cap: one profile, every row, and a note that says so.
"$bin/velcorin2" --html-max 1 --no-table --html cap.html "${M[@]}" example.fa >/dev/null 2>&1
[ "$(grep -c 'src="data:image' cap.html)" = 1 ] || bad "--html-max 1: not one profile"
[ "$(grep -c '^<tr><td>' cap.html)" = "$(cut -f1 example.1.tsv | sed 1d | sort -u | wc -l)" ] || bad "--html-max 1: rows missing"
grep -q '3 more were left out (--html-max 1).*--summary' cap.html || bad "--html-max 1: no note of the profiles left out"

# Progress: a terminal shows it; a file gets none of it; --quiet says nothing.
for i in $(seq 40); do sed "s/^>\([^ ]*\)/>\1_$i/" example.fa; done >many.fa  # codes kept unique
run=("$bin/velcorin2" --no-table --regions many.tsv "${M[@]}" many.fa)
script -qec "$(printf '%q ' "${run[@]}")" typescript </dev/null >/dev/null
grep -q $'records, .* M residues/s\e\\[K' typescript || bad "no progress line under a terminal"
"${run[@]}" 2>stderr.txt >/dev/null
if grep -q $'[\r\e]' stderr.txt || grep -q 'residues/s' stderr.txt; then bad "progress bytes in a file"; fi
"$bin/velcorin2" --quiet --no-table --regions many.tsv "${M[@]}" many.fa 2>quiet.txt >/dev/null
[ -s quiet.txt ] && bad "--quiet: standard error holds $(head -c 200 quiet.txt)"
[ $fails = 0 ] && echo "report_check: 2 inputs, $(ls ./*.svg | wc -l) profiles, cap and progress: all passed"
exit $((fails > 0))
