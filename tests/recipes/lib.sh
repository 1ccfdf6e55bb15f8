# Sourced by recipes_test.sh and cluster_test.sh, with their arguments: the
# setup, the counters, the comparisons and run_cases, which runs a table of
# cases (cases.tsv, cluster.tsv, slurm.tsv).  Sets repo (the repository, the
# current directory), bin (the velcorin2 to test, also VELCORIN2), data
# (this folder's data/) and tmp (a scratch directory, removed at the end);
# puts workflow/ on PATH and writes a configuration with absolute paths.
set -uo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/../.."
repo=$PWD data=$PWD/tests/recipes/data
bin=${1:-build/velcorin2}
[ -d "$bin" ] && bin=$bin/velcorin2
case $bin in /*) ;; *) bin=$repo/$bin ;; esac
[ -x "$bin" ] || { echo "$(basename "$0"): no velcorin2 at $bin (build it, or give its path)" >&2; exit 2; }
unset VELCORIN2_PIECES VELCORIN2_WORKDIR VELCORIN2_BLOCK PARALLEL SLURM_CONF
export LC_ALL=C VELCORIN2=$bin PATH=$repo/workflow:$PATH
tmp=$(mktemp -d "${TMPDIR:-/tmp}/$(basename "$0" .sh).XXXXXX")
trap 'rm -rf -- "$tmp"' EXIT
sed -E "s#^(genbnk|cctb|calib)( *= *)([^/ ][^ ]*)#\1\2$repo/\3#" data/velcorin2.conf > "$tmp/velcorin2.conf"
export VELCORIN_CONFIG=$tmp/velcorin2.conf
# first R FILE: the first R records of data/background.fa.gz (their headers
# hold '>') into FILE.
gzip -cd data/background.fa.gz > "$tmp/background.fa"
first() { awk -v r="$1" '/^>/ { if (++i > r) exit } { print }' "$tmp/background.fa" > "$2"; }

passed=0 failed=0 skipped=0
pass() { passed=$((passed + 1)); echo "ok    $*"; }
fail() { failed=$((failed + 1)); echo "FAIL  $*"; }
skip() { skipped=$((skipped + 1)); echo "skip  $*"; }
# need WHAT NAME PACKAGE [PROGRAM...]: status 0 when the tools are there;
# else a failure of WHAT, or a skip with VELCORIN_SKIP_<NAME>=1.
need() {
  local what=$1 said
  shift
  said=$(bash tests/need_tool.sh "$@") && return 0
  case $said in skipped:*) skip "$what: $said" ;; *) fail "$what: $said" ;; esac
  return 1
}

# Checks; each names what is wrong.  same REF GOT KIND...: GOT.KIND equals
# REF.KIND for every KIND, the logs (coil, seq) apart from the record numbers
# that begin their lines (they count from 1 in each piece); exact: byte for
# byte.  private FILE...: mode 0600, a directory 0700.  none FILE...: none
# exists.  said TEXT: the command's output or messages hold TEXT.
same() { strip=1 compare "$@"; }
exact() { strip=0 compare "$@"; }
compare() {
  local ref=$1 got=$2 kind e
  shift 2
  for kind; do
    e=; [[ $strip = 1 && $kind =~ ^(coil|seq)$ ]] && e='s/^ *[0-9]+[ \t]//'
    cmp -s <(sed -E "$e" "$ref.$kind") <(sed -E "$e" "$got.$kind") || { echo "$got.$kind differs from $ref.$kind"; return 1; }
  done
}
private() {
  local f m
  for f; do
    m=$(stat -c %a -- "$f") || return
    [ "$m" = "$([ -d "$f" ] && echo 700 || echo 600)" ] || { echo "$f has mode $m"; return 1; }
  done
}
none() { local f; for f; do [ ! -e "$f" ] || { echo "$f exists"; return 1; }; done; }
said() { grep -qF -- "$1" .out .err || { echo "no '$1' in the output"; return 1; }; }

# run_cases TABLE: the cases of TABLE in order, one a line, with the columns
#   name  needs  status  command  [checks]
# separated by tabs, none empty ('-'); lines beginning with '#' are comments.
# The command runs in $tmp (later cases may use what earlier ones leave
# there), its output going to $tmp/.out and $tmp/.err; the case passes when
# it exits with STATUS ('!0': any but 0; '-': there is no command, the checks
# look at what the case before left) and then the checks, shell conditions
# run in $tmp, hold.  NEEDS is '-' or NAME[:PACKAGE] (default: NAME), the
# tool as tests/need_tool.sh takes it.  A command that exits with 77 where that is
# not the status expected is skipped, its output saying why.
run_cases() {
  local name needs want cmd checks got problem took
  while IFS=$'\t' read -r -u 3 name needs want cmd checks; do
    [[ -z $name || $name == '#'* ]] && continue
    [ "$needs" = - ] || need "$name" "${needs%%:*}" "${needs#*:}" || continue
    took=$SECONDS got=-
    [ "$want" = - ] || { (cd "$tmp" && eval "$cmd") > "$tmp/.out" 2> "$tmp/.err" < /dev/null; got=$?; }
    [ "$got" = 77 ] && [ "$want" != 77 ] && { skip "$name: $(cat "$tmp/.out")"; continue; }
    took=$((SECONDS - took))
    [ "$took" -lt 5 ] && took= || took=" ($took s)"
    if ! case $want in '!0') [ "$got" != 0 ] ;; *) [ "$got" = "$want" ] ;; esac; then
      fail "$name: status $got, not $want$took"
      tail -q -n "${show:-5}" "$tmp/.out" "$tmp/.err" | sed 's/^/      /'
    elif problem=$(cd "$tmp" && eval "${checks:-:}" 2>&1); then
      pass "$name$took"
    else
      fail "$name: ${problem:-not $checks}$took"
    fi
  done 3< "$1"
}
