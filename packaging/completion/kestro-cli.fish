# SPDX-License-Identifier: GPL-3.0-or-later
# fish completion for kestro-cli: its commands, options, each command's own options and their
# values, S-record files for FILE and serial devices for --port. The table below is made from
# kestro-cli's own --help when Kestro is built.

set -g __kestro_cli_table '
@KESTRO_CLI_TABLE@
'
# Where the serial devices are looked for.
set -q __kestro_cli_dev; or set -g __kestro_cli_dev /dev

function __kestro_cli_rows
    string split \n -- $__kestro_cli_table | string match -v ''
end

# The kind of an option for a command: its own, else one that every command takes.
function __kestro_cli_kind -a command option
    set -l rows (__kestro_cli_rows)
    for scope in $command -
        set -l kind (string replace -f -- "option $scope $option " '' $rows)
        if test -n "$kind"
            echo $kind[1]
            return
        end
    end
end

# Whether a file is one kestro-cli reads, told by its first bytes as kestro-cli tells the kinds
# apart (an ELF header, then text whose first record is S-record or Intel HEX), whatever its
# name.
function __kestro_cli_takes -a path
    test -f "$path" -a -r "$path"; or return 1
    set -l head (head -c 64 -- $path 2>/dev/null | tr -d '\000' | string collect)
    string match -q -- \x7fELF'*' "$head"; and return 0
    string match -qr -- '^\s*(:|[Ss][0-9])' "$head"
end

function __kestro_cli_value -a kind current
    set -l cells (string split ' ' -- $kind)
    switch $cells[1]
        case values
            printf '%s\n' $cells[2..-1]
        case file
            __fish_complete_path $current
        case srec
            for found in (__fish_complete_path $current)
                set -l path (string split -f1 \t -- $found)
                if string match -q -- '*/' $path; or __kestro_cli_takes $path
                    echo $found
                end
            end
        case device
            set -l found
            for pattern in (string split ' ' -- (string replace -f 'devices ' '' (__kestro_cli_rows)))
                # set, unlike a command, takes a wildcard that matches nothing.
                eval "set -a found "(string escape -- $__kestro_cli_dev)"/$pattern"
            end
            if set -q found[1]
                printf '%s\n' $found
            else
                __fish_complete_path $current
            end
        case board
            set -l data ~/.local/share
            set -q XDG_DATA_HOME; and set data $XDG_DATA_HOME
            for folder in $data/kestro/boards/*/
                basename $folder
            end
    end
end

function __kestro_cli_complete
    set -l rows (__kestro_cli_rows)
    set -l tokens (commandline -opc)
    set -l current (commandline -ct)
    set -l commands (string replace -rf '^command (\S+) .*' '$1' $rows)
    set -l fileCommands (string replace -rf '^command (\S+) srec$' '$1' $rows)

    # Which command the words so far are in, and whether it still needs its FILE.
    set -l command -
    set -l needsFile 0
    set -l i 2
    while test $i -le (count $tokens)
        set -l word $tokens[$i]
        if string match -q -- '-*' $word
            set -l kind (__kestro_cli_kind $command (string split -m1 = -- $word)[1])
            if test -n "$kind" -a "$kind" != flag; and not string match -q -- '*=*' $word
                set i (math $i + 1)
            end
        else if contains -- $word $commands
            set command $word
            set needsFile 0
            contains -- $word $fileCommands; and set needsFile 1
        else
            set needsFile 0
        end
        set i (math $i + 1)
    end

    set -l option
    set -l prefix ""
    if string match -qr -- '^-[^=]*=' $current
        set option (string split -m1 = -- $current)[1]
        set prefix "$option="
        set current (string split -m1 = -- $current)[2]
    else if test (count $tokens) -gt 1; and string match -q -- '-*' $tokens[-1]
        set option $tokens[-1]
    end
    if test -n "$option"
        set -l kind (__kestro_cli_kind $command $option)
        if test -n "$kind" -a "$kind" != flag
            for value in (__kestro_cli_value "$kind" $current)
                echo $prefix$value
            end
            return
        end
    end
    if string match -q -- '-*' $current
        string replace -rf "^option (-|$command) (\S+) .*" '$2' $rows
    else if test $needsFile = 1
        __kestro_cli_value srec $current
    else
        printf '%s\n' $commands
    end
end

complete -c kestro-cli -f -a '(__kestro_cli_complete)'
