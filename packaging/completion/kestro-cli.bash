# SPDX-License-Identifier: GPL-3.0-or-later
# bash completion for kestro-cli: its commands, options, each command's own options and their
# values, the files it reads (by their content) for FILE and serial devices for --port. The table below is made from
# kestro-cli's own --help when Kestro is built.

_kestro_cli_table='
@KESTRO_CLI_TABLE@
'
# Where the serial devices are looked for.
_kestro_cli_dev=/dev

# The kind of option $2 for command $1 (its own, else one that every command takes).
_kestro_cli_kind() {
    local line kind=
    while read -r line; do
        case $line in
            "option $1 $2 "*) kind=${line#"option $1 $2 "} && break ;;
            "option - $2 "*) kind=${line#"option - $2 "} ;;
        esac
    done <<<"$_kestro_cli_table"
    printf '%s' "$kind"
}

# The table's words after a line's first words $1.
_kestro_cli_words() {
    local line
    while read -r line; do
        case $line in "$1"*) printf '%s\n' "${line#"$1"}" ;; esac
    done <<<"$_kestro_cli_table"
}

# Whether file $1 is one kestro-cli reads, told by its first bytes as kestro-cli tells the kinds
# apart (an ELF header, then text whose first record is S-record or Intel HEX), whatever its
# name.
_kestro_cli_takes() {
    local head=
    [[ -f $1 && -r $1 ]] || return 1
    IFS= read -r -d '' -n 64 head <"$1" 2>/dev/null
    [[ $head == $'\x7f'ELF* ]] && return 0
    head=${head#"${head%%[![:space:]]*}"}
    [[ $head == :* || $head == [Ss][0-9]* ]]
}

_kestro_cli_add() {
    local item
    while IFS= read -r item; do
        [[ -n $item ]] && COMPREPLY+=("$item")
    done < <(compgen "$@")
}

_kestro_cli_value() {
    local kind=$1 cur=$2 f pattern
    case $kind in
        values\ *)
            _kestro_cli_add -W "${kind#values }" -- "$cur"
            ;;
        file)
            compopt -o filenames 2>/dev/null
            _kestro_cli_add -f -- "$cur"
            ;;
        srec)
            compopt -o filenames 2>/dev/null
            while IFS= read -r f; do
                if [[ -d $f ]] || _kestro_cli_takes "$f"; then
                    COMPREPLY+=("$f")
                fi
            done < <(compgen -f -- "$cur")
            ;;
        device)
            for pattern in $(_kestro_cli_words 'devices '); do
                for f in "$_kestro_cli_dev"/$pattern; do
                    [[ -e $f && $f == "$cur"* ]] && COMPREPLY+=("$f")
                done
            done
            # Any other path (a pseudo-terminal's link, say) when no device matches.
            if ((${#COMPREPLY[@]} == 0)); then
                compopt -o filenames 2>/dev/null
                _kestro_cli_add -f -- "$cur"
            fi
            ;;
        board)
            local boards=${XDG_DATA_HOME:-$HOME/.local/share}/kestro/boards
            for f in "$boards"/*/; do
                [[ -d $f ]] && f=${f%/} && f=${f##*/} && [[ $f == "$cur"* ]] && COMPREPLY+=("$f")
            done
            ;;
    esac
}

_kestro_cli() {
    local cword=$COMP_CWORD cur=${COMP_WORDS[COMP_CWORD]} before=
    COMPREPLY=()
    # An option's value after "=" (bash splits --chip=E9 into three words).
    if [[ $cur == = ]]; then
        before=${COMP_WORDS[cword - 1]}
        cur=
    elif ((cword > 1)) && [[ ${COMP_WORDS[cword - 1]} == = ]]; then
        before=${COMP_WORDS[cword - 2]}
    elif ((cword > 0)); then
        before=${COMP_WORDS[cword - 1]}
    fi

    # Which command the words so far are in, and whether it still needs its FILE.
    local command=- needsFile=0 i word kind
    for ((i = 1; i < cword; ++i)); do
        word=${COMP_WORDS[i]}
        if [[ $word == -* ]]; then
            kind=$(_kestro_cli_kind "$command" "$word")
            if [[ -n $kind && $kind != flag ]]; then
                [[ ${COMP_WORDS[i + 1]} == = ]] && ((++i))
                ((++i))
            fi
        elif [[ $'\n'$_kestro_cli_table == *$'\n'"command $word "* ]]; then
            command=$word
            needsFile=0
            [[ $'\n'$_kestro_cli_table == *$'\n'"command $word srec"* ]] && needsFile=1
        else
            needsFile=0
        fi
    done

    if [[ $before == -* ]]; then
        kind=$(_kestro_cli_kind "$command" "$before")
        if [[ -n $kind && $kind != flag ]]; then
            _kestro_cli_value "$kind" "$cur"
            return 0
        fi
    fi
    if [[ $cur == -* ]]; then
        _kestro_cli_add -W "$(_kestro_cli_words 'option - ' | cut -d' ' -f1) \
            $( [[ $command != - ]] && _kestro_cli_words "option $command " | cut -d' ' -f1)" -- "$cur"
    elif ((needsFile)); then
        _kestro_cli_value srec "$cur"
    else
        _kestro_cli_add -W "$(_kestro_cli_words 'command ' | cut -d' ' -f1)" -- "$cur"
    fi
    return 0
}
complete -F _kestro_cli kestro-cli
