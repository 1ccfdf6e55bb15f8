#!/usr/bin/env bash
# Runs one end-to-end case of tests/cases/<name>/ and compares what the
# program wrote with the case's *.expected files, byte for byte.
#   run_case.sh <case dir> <dir of the programs> <test model dir> [threads]
# A case holds `cmd` (one command line; $MODEL and $DATA name the test model
# and tests/data), its own input files, an optional `conf` (the
# configuration file VELCORIN_CONFIG names) or `.velcorin2` (found through
# HOME instead; $MODEL and $DATA are replaced in both), `stdin`, and
# <file>.expected for every file to compare: the outputs it names, and
# stdout, stderr (time stamps masked as <time>) and status; in HTML reports
# the time line is masked the same way.  In stdout, stderr and reports the
# test model's and tests/data's folders read $MODEL and $DATA, the folder the
# case runs in $WORK.
# With a thread count, --threads N goes first on the command line and every
# expectation must hold all the same.  UPDATE=1 writes the expected files.
set -u
case_dir=$(cd "$1" && pwd) bin=$(cd "$2" && pwd) model=$(cd "$3" && pwd) threads=${4:-}
data=$(cd "$(dirname "$0")/data" && pwd)
work=$(mktemp -d)
trap 'chmod -R u+w "$work" 2>/dev/null; rm -rf "$work"' EXIT
cd "$work" || exit 1
inputs=()
for f in "$case_dir"/* "$case_dir"/.velcorin2; do
  [ -e "$f" ] && [ "${f%.expected}" = "$f" ] && inputs+=("$f")
done
cp -R "${inputs[@]}" .
subst() { sed -e "s|\$MODEL|$model|g" -e "s|\$DATA|$data|g" "$1" >"$1.tmp" && mv "$1.tmp" "$1"; }
read -r -a words <"$case_dir/cmd"
words=("${words[@]//\$MODEL/$model}")
words=("${words[@]//\$DATA/$data}")
prog=${words[0]}
words=("${words[@]:1}")
[ -n "$threads" ] && words=(--threads "$threads" "${words[@]}")
conf=$work/no-such-config
[ -f conf ] && subst conf && conf=$work/conf
[ -f .velcorin2 ] && subst .velcorin2 && conf=""  # found through HOME
env -i PATH="$PATH" HOME="$work" TZ=UTC ${conf:+VELCORIN_CONFIG=$conf} ${ASAN_OPTIONS:+ASAN_OPTIONS=$ASAN_OPTIONS} \
  ${TSAN_OPTIONS:+TSAN_OPTIONS=$TSAN_OPTIONS} "$bin/$prog" "${words[@]}" \
  <"$([ -f stdin ] && echo stdin || echo /dev/null)" >stdout.raw 2>stderr.raw
echo $? >status
# The folders that differ from machine to machine read as in the command line,
# the case's own folder as $WORK.
sed -E -e 's/^[A-Z][a-z]{2} [A-Z][a-z]{2} [ 0-9][0-9] [0-9]{2}:[0-9]{2}:[0-9]{2} [0-9]{4}$/<time>/' \
  -e "s|$model|\$MODEL|g" -e "s|$data|\$DATA|g" -e "s|$work|\$WORK|g" stderr.raw >stderr
sed -e "s|$model|\$MODEL|g" -e "s|$data|\$DATA|g" -e "s|$work|\$WORK|g" stdout.raw >stdout
# A report names the folders too, and the time of its run on one line.
for f in *.html; do
  [ -f "$f" ] && sed -i -e 's|^<p class="time">.*</p>$|<p class="time"><time></p>|' -e "s|$model|\$MODEL|g" \
    -e "s|$data|\$DATA|g" -e "s|$work|\$WORK|g" "$f"
done
failed=0
for want in "$case_dir"/*.expected; do
  [ -e "$want" ] || continue
  got=$(basename "$want" .expected)
  if [ "${UPDATE:-}" = 1 ]; then cp "$got" "$want"; continue; fi
  if ! cmp -s "$want" "$got"; then
    echo "$(basename "$case_dir")${threads:+ (--threads $threads)}: $got differs from $got.expected"
    diff <(head -c 4000 "$want") <(head -c 4000 "$got") | head -20
    failed=1
  fi
done
exit $failed
