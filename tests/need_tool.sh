#!/usr/bin/env bash
# The one rule for external tools in the tests: a check that needs a tool
# which is missing fails, with a message that names the tool and its Debian
# package, unless VELCORIN_SKIP_<NAME>=1 says to skip it, and then it says
# that it skipped.  (Checks that need root are skipped, with a message, when
# not run as root: that is no missing tool.)
#
#   need_tool.sh NAME PACKAGE [PROGRAM...]
#
# PROGRAMs (default: NAME) are looked up on PATH.  Exit status 0 when all are
# there; else a line on standard output and status
#   77  VELCORIN_SKIP_<NAME>=1 (NAME in upper case, '-' as '_'): "skipped: ..."
#    1  otherwise: "... not installed (Debian package PACKAGE; ...)"
# The tests print the line as their own skip or failure.  Names in use:
#   GT (genometools), GS (ghostscript), STRACE (strace), SETPRIV (util-linux),
#   PARALLEL (parallel), SNAKEMAKE (snakemake), SLURM (slurm-wlm and munge),
#   BROWSER (chromium), XMLLINT (libxml2-utils), SCRIPT (bsdutils).
# Uses shell builtins only, so it works with any PATH.
[ $# -ge 2 ] || { echo "usage: need_tool.sh NAME PACKAGE [PROGRAM...]" >&2; exit 2; }
name=$1 package=$2
shift 2
[ $# -gt 0 ] || set -- "$name"
missing=()
for program in "$@"; do
  command -v "$program" > /dev/null 2>&1 || missing+=("$program")
done
[ ${#missing[@]} -eq 0 ] && exit 0
variable=${name^^}
variable=VELCORIN_SKIP_${variable//-/_}
if [ "${!variable:-}" = 1 ]; then
  echo "skipped: ${missing[*]} not installed, and $variable=1"
  exit 77
fi
case $package in *' '*) kind=packages ;; *) kind=package ;; esac
echo "${missing[*]} not installed (Debian $kind $package; $variable=1 skips this check)"
exit 1
