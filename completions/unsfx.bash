# Completion of unsfx for bash: commands, options (those of the command at hand), files for
# FILE and --password-file, folders for -o, code pages after --codepage. Installed as
# share/bash-completion/completions/unsfx; works without the bash-completion package too.

_unsfx() {
    local cur=${COMP_WORDS[COMP_CWORD]}
    local prev=
    ((COMP_CWORD > 0)) && prev=${COMP_WORDS[COMP_CWORD - 1]}
    # "--output=DEST": bash splits the word at "=".
    if [[ $cur == = ]]; then
        prev=${COMP_WORDS[COMP_CWORD - 1]}
        cur=
    elif [[ $prev == = ]] && ((COMP_CWORD > 1)); then
        prev=${COMP_WORDS[COMP_CWORD - 2]}
    fi
    COMPREPLY=()

    case $prev in
        -o | --output)
            compopt -o filenames 2>/dev/null
            mapfile -t COMPREPLY < <(compgen -d -- "$cur")
            return
            ;;
        --password-file)
            compopt -o filenames 2>/dev/null
            mapfile -t COMPREPLY < <(compgen -f -- "$cur")
            return
            ;;
        -p | --password)
            return
            ;;
        --codepage)
            mapfile -t COMPREPLY < <(compgen -W "874 1250 1251 1252 1253 1254 1255 1256 1257 1258 932 936 949 950" -- "$cur")
            return
            ;;
    esac

    local command=extract
    case ${COMP_WORDS[1]} in
        test | info) command=${COMP_WORDS[1]} ;;
    esac
    if [[ $cur == -* ]]; then
        local options="-h --help -V --version --codepage"
        case $command in
            info) options+=" --json" ;;
            test)
                options+=" -p --password --password-file -q --quiet --salvage"
                # The report as JSON is salvage's.
                [[ " ${COMP_WORDS[*]} " == *" --salvage "* ]] && options+=" --json"
                ;;
            extract) options+=" -o --output -p --password --password-file -f --force -q --quiet --salvage" ;;
        esac
        mapfile -t COMPREPLY < <(compgen -W "$options" -- "$cur")
        return
    fi

    compopt -o filenames 2>/dev/null
    mapfile -t COMPREPLY < <(compgen -f -- "$cur")
    if ((COMP_CWORD == 1)); then
        local commands
        mapfile -t commands < <(compgen -W "extract test info" -- "$cur")
        COMPREPLY+=("${commands[@]}")
    fi
}

complete -F _unsfx unsfx
