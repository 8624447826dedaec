#!/bin/bash
# The bash completion of unsfx, sourced as bash does, completes what each row expects; the
# zsh one is valid zsh.
#   completion_test.sh COMPLETIONS_DIR
# Not -e: completions run in an interactive shell, where a failing compopt is no error.
set -uo pipefail
completions=$(cd "$1" && pwd) || exit 1
source "$completions/unsfx.bash"
[[ $(complete -p unsfx) == *"-F _unsfx"* ]] || { echo "completion_test: unsfx not bound"; exit 1; }

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"
touch a.exe b.txt
mkdir dir

# Rows: the words typed so far (the last one being completed) | the completions, sorted.
rows=(
    "unsfx ''                         | a.exe b.txt dir extract info test"
    "unsfx e                          | extract"
    "unsfx i                          | info"
    "unsfx info --                    | --help --json --version"
    "unsfx test a.exe --p             | --password --password-file"
    "unsfx a.exe -                    | --force --help --output --password --password-file --quiet --version -V -f -h -o -p -q"
    "unsfx a.exe -o ''                | dir"
    "unsfx a.exe --output = ''        | dir"
    "unsfx a.exe --password-file b    | b.txt"
    "unsfx extract a.exe -p ''        | "
    "unsfx test a            | a.exe"
)
failed=0
for row in "${rows[@]}"; do
    eval "COMP_WORDS=(${row%%|*})"
    want=$(echo ${row#*|})
    COMP_CWORD=$((${#COMP_WORDS[@]} - 1))
    COMPREPLY=()
    _unsfx
    got=$(printf '%s\n' "${COMPREPLY[@]}" | LC_ALL=C sort | xargs)
    if [[ $got != "$want" ]]; then
        echo "completion_test: ${row%%|*}: got '$got', want '$want'"
        failed=1
    fi
done
echo "completion_test: ${#rows[@]} bash rows"

command -v zsh >/dev/null || { echo "completion_test: zsh missing (scripts/setup.sh installs it)"; exit 1; }
zsh -n "$completions/_unsfx" || failed=1
exit $failed
