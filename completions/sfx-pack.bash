# Completion of sfx-pack for bash: the options not given yet (each may be given once, and
# --password and --no-password exclude each other), files after --stub, --input and -o, the
# code pages after --codepage. Installed as share/bash-completion/completions/sfx-pack;
# works without the bash-completion package too.

_sfx_pack() {
    local cur=${COMP_WORDS[COMP_CWORD]}
    local prev=
    ((COMP_CWORD > 0)) && prev=${COMP_WORDS[COMP_CWORD - 1]}
    # "--stub=STUB": bash splits the word at "=".
    if [[ $cur == = ]]; then
        prev=${COMP_WORDS[COMP_CWORD - 1]}
        cur=
    elif [[ $prev == = ]] && ((COMP_CWORD > 1)); then
        prev=${COMP_WORDS[COMP_CWORD - 2]}
    fi
    COMPREPLY=()

    case $prev in
        --stub | --input | -o | --output)
            compopt -o filenames 2>/dev/null
            mapfile -t COMPREPLY < <(compgen -f -- "$cur")
            return
            ;;
        --codepage)
            mapfile -t COMPREPLY < <(compgen -W "874 1250 1251 1252 1253 1254 1255 1256 1257 1258 932 936 949 950" -- "$cur")
            return
            ;;
        --password | --riddle | --description)
            return
            ;;
    esac

    # Each option once: drop those on the line already, and the other of a pair.
    local -A given=()
    local word i
    for ((i = 1; i < COMP_CWORD; i++)); do
        word=${COMP_WORDS[i]}
        case $word in
            -o | --output) given[-o]=1 given[--output]=1 ;;
            -v | --verbose) given[-v]=1 given[--verbose]=1 ;;
            --password | --no-password) given[--password]=1 given[--no-password]=1 ;;
            -*) given[$word]=1 ;;
        esac
    done
    local options=()
    for word in --stub --input -o --output --password --no-password --compress --riddle \
        --description --codepage -v --verbose; do
        [[ -z ${given[$word]:-} ]] && options+=("$word")
    done
    if ((COMP_CWORD == 1)); then
        options+=(-h --help -V --version)
    fi
    mapfile -t COMPREPLY < <(compgen -W "${options[*]}" -- "$cur")
}

complete -F _sfx_pack sfx-pack
