#!/bin/bash
# The bash completions of unsfx and sfx-pack, sourced as bash does, complete what each row
# expects; the zsh ones are valid zsh and bound to their programs by compinit.
#   completion_test.sh COMPLETIONS_DIR
# Not -e: completions run in an interactive shell, where a failing compopt is no error.
set -uo pipefail
completions=$(cd "$1" && pwd) || exit 1
programs=(unsfx sfx-pack)
declare -A function_of
for program in "${programs[@]}"; do
    source "$completions/$program.bash"
    binding=$(complete -p "$program") || { echo "completion_test: $program not bound"; exit 1; }
    function_of[$program]=$(awk '{ for (i = 1; i < NF; i++) if ($i == "-F") print $(i + 1) }' <<<"$binding")
done

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
    "unsfx info --                    | --codepage --help --json --version"
    "unsfx test a.exe --p             | --password --password-file"
    "unsfx a.exe -                    | --codepage --force --help --output --password --password-file --quiet --salvage --version -V -f -h -o -p -q"
    "unsfx test a.exe --s             | --salvage"
    "unsfx test a.exe --j             | "
    "unsfx test --salvage a.exe --j   | --json"
    "unsfx a.exe -o ''                | dir"
    "unsfx a.exe --output = ''        | dir"
    "unsfx a.exe --password-file b    | b.txt"
    "unsfx info a.exe --codepage 9    | 932 936 949 950"
    "unsfx extract a.exe -p ''        | "
    "unsfx test a            | a.exe"
    "sfx-pack ''                      | --codepage --compress --description --help --input --no-password --output --password --riddle --stub --verbose --version -V -h -o -v"
    "sfx-pack --stub a.exe --p        | --password"
    "sfx-pack --password x --          | --codepage --compress --description --input --output --riddle --stub --verbose"
    "sfx-pack --compress -o x -v -    | --codepage --description --input --no-password --password --riddle --stub"
    "sfx-pack --stub ''               | a.exe b.txt dir"
    "sfx-pack --input = b             | b.txt"
    "sfx-pack -o a                    | a.exe"
    "sfx-pack --codepage 125          | 1250 1251 1252 1253 1254 1255 1256 1257 1258"
    "sfx-pack --password ''           | "
)
failed=0
for row in "${rows[@]}"; do
    eval "COMP_WORDS=(${row%%|*})"
    want=$(echo ${row#*|})
    COMP_CWORD=$((${#COMP_WORDS[@]} - 1))
    COMPREPLY=()
    "${function_of[${COMP_WORDS[0]}]}"
    got=$(printf '%s\n' "${COMPREPLY[@]}" | LC_ALL=C sort | xargs)
    if [[ $got != "$want" ]]; then
        echo "completion_test: ${row%%|*}: got '$got', want '$want'"
        failed=1
    fi
done
echo "completion_test: ${#rows[@]} bash rows"

command -v zsh >/dev/null || { echo "completion_test: zsh missing (scripts/setup.sh installs it)"; exit 1; }
for program in "${programs[@]}"; do
    zsh -n "$completions/_$program" || failed=1
    bound=$(zsh -fc "fpath=('$completions' \$fpath); autoload -Uz compinit; compinit -u -D -d '$work/zcompdump'; print \${_comps[$program]:-none}")
    if [[ $bound != "_$program" ]]; then
        echo "completion_test: zsh binds $program to '$bound', want '_$program'"
        failed=1
    fi
done
exit $failed
