#compdef kestro-cli
# SPDX-License-Identifier: GPL-3.0-or-later
# zsh completion for kestro-cli: its commands, options, each command's own options and their
# values, the files it reads (by their content) for FILE and serial devices for --port. The table below is made from
# kestro-cli's own --help when Kestro is built.

local table='
@KESTRO_CLI_TABLE@
'
# Where the serial devices are looked for.
local dev=${_kestro_cli_dev:-/dev}

local row
local -a cells cliCommands fileCommands devices
local -A kinds
for row in ${(f)table}; do
    cells=(${=row})
    case $cells[1] in
        command)
            cliCommands+=($cells[2])
            [[ $cells[3] == srec ]] && fileCommands+=($cells[2])
            ;;
        option) kinds[$cells[2]:$cells[3]]=${(j: :)cells[4,-1]} ;;
        devices) devices=($cells[2,-1]) ;;
    esac
done

# Which command the words so far are in, and whether it still needs its FILE.
local command=- word kind
integer i needsFile=0
for (( i = 2; i < CURRENT; ++i )); do
    word=$words[i]
    if [[ $word == -* ]]; then
        kind=${kinds[$command:${word%%=*}]:-${kinds[-:${word%%=*}]}}
        [[ -n $kind && $kind != flag && $word != *=* ]] && (( ++i ))
    elif (( ${cliCommands[(Ie)$word]} )); then
        command=$word
        needsFile=${fileCommands[(Ie)$word]}
    else
        needsFile=0
    fi
done

local cur=$words[CURRENT] option=
if [[ $cur == -*=* ]]; then
    option=${cur%%=*}
    compset -P '*='
    cur=${cur#*=}
elif [[ $words[CURRENT-1] == -* ]]; then
    option=$words[CURRENT-1]
fi
if [[ -n $option ]]; then
    kind=${kinds[$command:$option]:-${kinds[-:$option]}}
fi
if [[ -n $option && -n $kind && $kind != flag ]]; then
    local pattern
    local -a found
    case $kind in
        values\ *) compadd -- ${=kind#values } ;;
        file) _files ;;
        device)
            for pattern in $devices; do
                found+=($dev/${~pattern}(N))
            done
            if (( $#found )); then
                compadd -- $found
            else
                _files
            fi
            ;;
        board)
            found=(${XDG_DATA_HOME:-$HOME/.local/share}/kestro/boards/*(N/:t))
            compadd -- $found
            ;;
    esac
    return
fi

local name
local -a cliOptions
for name in ${(k)kinds}; do
    [[ ${name%%:*} == - || ${name%%:*} == $command ]] && cliOptions+=(${name#*:})
done
if [[ $cur == -* ]]; then
    compadd -- $cliOptions
elif (( needsFile )); then
    # A file kestro-cli reads, told by its first bytes as kestro-cli tells the kinds apart (an
    # ELF header, then text whose first record is S-record or Intel HEX), whatever its name.
    _kestro_cli_takes() {
        local head
        [[ -r $REPLY ]] || return 1
        head=$(LC_ALL=C head -c 64 -- $REPLY 2>/dev/null | tr -d '\0')
        [[ $head == $'\x7f'ELF* ]] && return 0
        while [[ $head == [[:space:]]* ]]; do head=${head:1}; done
        [[ $head == :* || $head == [Ss][0-9]* ]]
    }
    _files -g "*(-.+_kestro_cli_takes)"
else
    compadd -- $cliCommands
fi
