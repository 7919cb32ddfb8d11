# bash completion for lumora-ctl: options, commands, and the light, room and
# scene names lumora-ctl wrote after its last successful read.

# Prints the cached names of the given kinds ("light room", "scene"), once each.
_lumora_ctl_names() {
    local file="${XDG_CACHE_HOME:-$HOME/.cache}/lumora/names" kind name k
    [[ -r $file ]] || return 0
    while IFS=$'\t' read -r kind name; do
        for k in $1; do
            [[ $kind == "$k" ]] && printf '%s\n' "$name"
        done
    done <"$file" | awk '!seen[$0]++'
}

_lumora_ctl() {
    local cur=${COMP_WORDS[COMP_CWORD]}
    local commands="discover pair lights rooms scenes on off bri hue ct scene all-off status
        all-on brighter darker red blue white slot toggle-panel show-panel hide-panel"
    local options="--bridge --user --demo --json --help"
    COMPREPLY=()

    # Bash splits HOST:PORT and --bridge=ADDRESS at ':' and '='; glue the
    # pieces that no blank separates back into the words that were typed.
    local line=${COMP_LINE:0:COMP_POINT} rest j
    local -a words=()
    for ((j = 0; j < COMP_CWORD; j++)); do
        rest=${line#"${line%%[![:space:]]*}"}
        if ((j > 0)) && [[ ${#rest} -eq ${#line} ]]; then
            words[${#words[@]} - 1]+=${COMP_WORDS[j]}
        else
            words+=("${COMP_WORDS[j]}")
        fi
        line=${rest#"${COMP_WORDS[j]}"}
    done
    # A current word glued to the one before is part of an option's value.
    rest=${line#"${line%%[![:space:]]*}"}
    ((COMP_CWORD > 0)) && [[ ${#rest} -eq ${#line} ]] && return 0
    local prev=${words[${#words[@]} - 1]}

    # The command word, and how many arguments follow it before the cursor.
    local i verb="" position=0
    for ((i = 1; i < ${#words[@]}; i++)); do
        case ${words[i]} in
            --bridge=* | --user=* | --in=*) ;;
            --bridge | --user | --in) ((i++)) ;;
            -*) ;;
            *) if [[ -z $verb ]]; then verb=${words[i]}; else ((position++)); fi ;;
        esac
    done

    case $prev in
        --bridge | --user) return 0 ;;
        --in)
            COMPREPLY=($(compgen -W "5 30 60" -- "$cur"))
            return 0
            ;;
    esac
    if [[ $cur == -* ]]; then
        [[ $verb == all-off ]] && options+=" --in"
        COMPREPLY=($(compgen -W "$options" -- "$cur"))
        return 0
    fi
    if [[ -z $verb ]]; then
        COMPREPLY=($(compgen -W "$commands" -- "$cur"))
        return 0
    fi

    local kinds=""
    case $verb in
        on | off | bri | hue | ct) ((position == 0)) && kinds="light room" ;;
        scene) ((position == 0)) && kinds="scene" ;;
    esac
    [[ -n $kinds ]] || return 0

    # Names hold spaces: match what was typed without its quoting, and hand
    # the names back escaped unless the word opened a quote itself.
    local typed=$cur quoted=""
    case $typed in
        \"* | \'*)
            quoted=1
            typed=${typed:1}
            ;;
        *) typed=${typed//\\/} ;;
    esac
    local name
    while IFS= read -r name; do
        [[ $name == "$typed"* ]] || continue
        if [[ -n $quoted ]]; then
            COMPREPLY+=("$name")
        else
            COMPREPLY+=("$(printf '%q' "$name")")
        fi
    done < <(_lumora_ctl_names "$kinds")
    return 0
}

complete -F _lumora_ctl lumora-ctl
