#!/bin/sh
# The manual pages: clean for both formatters' linters; each names every option that the
# program's --help names, and --help names every option that the page lists.
#   man_pages_test.sh BIN_DIR MAN_DIR
set -eu
bin=$1
man=$2
for tool in mandoc groff; do
    command -v $tool >/dev/null || { echo "man_pages_test: $tool missing (scripts/setup.sh installs it)"; exit 1; }
done

failed=0
fail() { echo "man_pages_test: $*"; failed=1; }

# The words of the tags (the line after each .TP) in one section of a page, roff removed.
tags() {
    awk -v section="$1" '$0 == ".SH " section { on = 1; next } /^\.SH/ { on = 0 }
                         on && tag { print; tag = 0 } on && /^\.TP/ { tag = 1 }' "$2" |
        sed -e 's/\\f[BIRP]//g' -e 's/\\-/-/g' -e 's/^\.[A-Z]* //' -e 's/"//g' | tr -s ' ,' '\n'
}

# One row per program: the program and its page.
for program in unsfx sfx-pack; do
    page=$man/$program.1
    if ! lint=$(mandoc -T lint -W warning "$page" 2>&1) || [ -n "$lint" ]; then
        fail "$page: mandoc: $lint"
    fi
    if ! lint=$(groff -ww -z -man "$page" 2>&1) || [ -n "$lint" ]; then
        fail "$page: groff: $lint"
    fi

    text=$(mandoc -T ascii "$page" | col -b)
    help=$("$bin/$program" --help)
    # Options as --help names them: every word that starts like one, "--" on its own
    # included.
    options=$(printf '%s\n' "$help" | tr -s ' \t[]()|,=.;:' '\n' | grep -E '^--?[A-Za-z]|^--$' | sort -u)
    [ -n "$options" ] || fail "$program --help names no option"
    for option in $options; do
        printf '%s\n' "$text" | grep -qE -- "(^|[^A-Za-z-])$option([^A-Za-z-]|\$)" ||
            fail "$page does not name $option, which $program --help names"
    done
    # Options as the page's OPTIONS section lists them.
    listed=$(tags OPTIONS "$page" | grep -E '^--?[A-Za-z]|^--$' | sort -u)
    [ -n "$listed" ] || fail "$page lists no option"
    # And the environment variables of its ENVIRONMENT section.
    listed="$listed $(tags ENVIRONMENT "$page" | grep -E '^[A-Z][A-Z_]+$' | sort -u)"
    for option in $listed; do
        printf '%s\n' "$help" | grep -qE -- "(^|[^A-Za-z-])$option([^A-Za-z-]|\$)" ||
            fail "$program --help does not name $option, which $page lists"
    done
    echo "man_pages_test: $page: $(echo $options | wc -w) options of --help and $(echo $listed | wc -w) of the page checked"
done
exit $failed
