#!/usr/bin/env bash
# The Bioconda recipe without conda (which this machine cannot reach): the
# recipe rendered as conda-build renders it (Jinja, load_file_regex,
# selectors) and checked, its build.sh run with SRC_DIR and PREFIX in
# scratch folders, then its test imports and commands against that prefix.
# PREFIX is a virtual environment (Debian's python3 with its packages), so
# that the Python package goes where a conda environment's Python finds it.
# Needs python3-jinja2 and python3-yaml; CI runs it.
#   bash packaging/bioconda_check.sh
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
src=$work/src prefix=$work/prefix
mkdir "$src" "$work/test"
# The source as the recipe's "path: ../.." gives it, without build folders.
tar -C "$root" --exclude='./build*' --exclude=./.git --exclude=./dist -cf - . | tar -C "$src" -xf -
/usr/bin/python3 -m venv --system-site-packages "$prefix"

/usr/bin/python3 - "$src/packaging/bioconda/meta.yaml" "$src" >"$work/recipe.json" <<'PY'
import json, os, re, sys
import jinja2, yaml
recipe, src = sys.argv[1], sys.argv[2]
def load_file_regex(load_file, regex_pattern, from_recipe_dir=False, **_):
    base = os.path.dirname(recipe) if from_recipe_dir else src
    with open(os.path.join(base, load_file)) as f:
        return re.search(regex_pattern, f.read())
def selected(line):  # "# [expr]" selectors, on Linux x86-64
    m = re.search(r"#\s*\[(.*)\]\s*$", line)
    return not m or eval(m.group(1), {"linux": True, "osx": False, "win": False, "unix": True, "x86_64": True})
with open(recipe) as f:
    text = "\n".join(line for line in f.read().split("\n") if selected(line))
env = jinja2.Environment(undefined=jinja2.StrictUndefined)
meta = yaml.safe_load(env.from_string(text).render(
    load_file_regex=load_file_regex, compiler=lambda lang: f"{lang}_compiler_stub",
    pin_subpackage=lambda name, **kw: name, pin_compatible=lambda name, **kw: name, environ=os.environ))
version = re.search(r"project\(velcorin2 VERSION ([0-9.]+)", open(os.path.join(src, "CMakeLists.txt")).read())[1]
assert meta["package"] == {"name": "velcorin2", "version": version}, meta["package"]
assert os.path.isfile(os.path.join(os.path.dirname(recipe), "build.sh"))
assert os.path.isfile(os.path.join(src, meta["about"]["license_file"])) and meta["about"]["license"]
assert meta["build"]["number"] >= 0 and meta["about"]["summary"] and meta["test"]["commands"]
# A command holding ": " unquoted reads as a mapping, and conda-build would refuse it.
for part in ("imports", "commands"):
    assert all(isinstance(c, str) for c in meta["test"].get(part, [])), (part, meta["test"][part])
for part in ("build", "host", "run"):
    assert all(isinstance(r, str) for r in meta["requirements"][part]), part
json.dump(meta["test"], sys.stdout)
PY

(cd "$src" && SRC_DIR=$src PREFIX=$prefix PYTHON=$prefix/bin/python CPU_COUNT=$(nproc) \
  bash packaging/bioconda/build.sh) >"$work/build.log" 2>&1 || { tail -n 40 "$work/build.log"; exit 1; }

# The tests run as conda-build runs them: the prefix first on PATH, in an empty folder.
export PREFIX=$prefix PATH=$prefix/bin:$PATH
unset VELCORIN_CONFIG
n=0
while IFS= read -r -d '' cmd; do
  (cd "$work/test" && HOME=$work/test bash -euo pipefail -c "$cmd") </dev/null >"$work/test.log" 2>&1 ||
    { cat "$work/test.log"; echo "bioconda_check: failed: $cmd"; exit 1; }
  n=$((n + 1))
done < <(/usr/bin/python3 -c '
import json, sys
t = json.load(open(sys.argv[1]))
for m in t.get("imports", []): sys.stdout.write(f"python -c \"import {m}\"\0")
for c in t.get("commands", []): sys.stdout.write(c + "\0")' "$work/recipe.json")
want=$(/usr/bin/python3 -c 'import json, sys; t = json.load(open(sys.argv[1]))
print(len(t.get("imports", [])) + len(t.get("commands", [])))' "$work/recipe.json")
[ "$n" -gt 0 ] || { echo "bioconda_check: the recipe has no tests"; exit 1; }
[ "$n" = "$want" ] || { echo "bioconda_check: $n of the recipe's $want test commands ran"; exit 1; }
echo "bioconda_check: recipe rendered, build.sh installed into a scratch prefix, $n test commands passed"
