#!/usr/bin/env bash
# Runs one end-to-end case of tests/cases/<name>/ and compares what the
# program wrote with the case's *.expected files, byte for byte.
#   run_case.sh <case dir> <dir of the programs> <test model dir> [threads]
# A case holds `cmd` (one command line; $MODEL and $DATA name the test model
# and tests/data), its own input files, an optional `conf` (the
# configuration file VELCORIN_CONFIG names) or `.velcorin2` (found through
# HOME instead; $MODEL and $DATA are replaced in both), `stdin`, and
# <file>.expected for every file to compare: the outputs it names, and
# stdout, stderr (time stamps masked as <time>, the test model's and the
# shared data's folders written back as $MODEL and $DATA) and status.  With a thread
# count, --threads N goes first on the command line and every expectation
# must hold all the same.  UPDATE=1 writes the expected files instead.
set -u
case_dir=$(cd "$1" && pwd) bin=$(cd "$2" && pwd) model=$(cd "$3" && pwd) threads=${4:-}
data=$(cd "$(dirname "$0")/data" && pwd)
work=$(mktemp -d)
trap 'chmod -R u+w "$work" 2>/dev/null; rm -rf "$work"' EXIT
cp -R "$case_dir"/. "$work"/
cd "$work" || exit 1
rm -f ./*.expected
subst() { sed -e "s|\$MODEL|$model|g" -e "s|\$DATA|$data|g" "$1"; }
cmd=$(subst cmd)
[ -f conf ] && subst conf > .conf.tmp && mv .conf.tmp conf
read -r -a words <<<"$cmd"
prog=${words[0]}
words=("${words[@]:1}")
[ -n "$threads" ] && words=(--threads "$threads" "${words[@]}")
conf=$work/no-such-config
[ -f conf ] && conf=$work/conf
[ -f .velcorin2 ] && subst .velcorin2 >.conf.tmp && mv .conf.tmp .velcorin2 && conf=""  # found through HOME
env -i PATH="$PATH" HOME="$work" TZ=UTC ${conf:+VELCORIN_CONFIG=$conf} ${ASAN_OPTIONS:+ASAN_OPTIONS=$ASAN_OPTIONS} \
  ${TSAN_OPTIONS:+TSAN_OPTIONS=$TSAN_OPTIONS} "$bin/$prog" "${words[@]}" \
  <"$([ -f stdin ] && echo stdin || echo /dev/null)" >stdout 2>stderr.raw
echo $? >status
sed -E 's/^[A-Z][a-z]{2} [A-Z][a-z]{2} [ 0-9][0-9] [0-9]{2}:[0-9]{2}:[0-9]{2} [0-9]{4}$/<time>/' stderr.raw |
  sed -e "s|$model|\$MODEL|g" -e "s|$data|\$DATA|g" >stderr
sed -e "s|$model|\$MODEL|g" -e "s|$data|\$DATA|g" stdout >stdout.masked && mv stdout.masked stdout
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
