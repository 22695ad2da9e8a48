# bash completion of config and config-client.
#
# Paths and values come from `config complete`: paths from the schema and
# the members that exist in the stored configuration, values from the
# schema's allowed values (and a reference's target members).  It never
# offers what a leaf holds, so no private value reaches the screen.
# Members that a session has added but not committed are not offered.

# Candidates for a partial path, or with a second argument the allowed
# values of the leaf at the path that start with it.
_config_candidates()
{
    local candidate
    # An empty CONFIG_SOCKET keeps config in direct mode inside a session.
    # One candidate a line, taken as it is (no splitting, no globbing).
    mapfile -t COMPREPLY < <(CONFIG_SOCKET= command config complete "$@" 2>/dev/null)
    # A container's path ends in ".": the user goes on typing below it.
    for candidate in "${COMPREPLY[@]}"; do
        if [[ $candidate == *. ]]; then
            compopt -o nospace 2>/dev/null
            break
        fi
    done
}

_config_words()
{
    local IFS=$' \t\n'
    COMPREPLY=($(compgen -W "$1" -- "$2"))
}

# The second word is a path; with value, the third is its value.
_config_path()
{
    if ((COMP_CWORD == 2)); then
        _config_candidates "${COMP_WORDS[2]}"
    elif [[ $1 == value ]] && ((COMP_CWORD == 3)); then
        _config_candidates "${COMP_WORDS[2]}" "${COMP_WORDS[3]}"
    fi
}

_config()
{
    COMPREPLY=()
    if ((COMP_CWORD == 1)); then
        _config_words 'get set dump dump-public json map start stop' "${COMP_WORDS[1]}"
        return 0
    fi
    case ${COMP_WORDS[1]} in
    get | dump | dump-public | json) _config_path ;;
    set) _config_path value ;;
    map) ((COMP_CWORD == 2)) && _config_words 'dnsmasq ipsec network pam' "${COMP_WORDS[2]}" ;;
    esac
    return 0
}

_config_client()
{
    COMPREPLY=()
    if ((COMP_CWORD == 1)); then
        _config_words 'ident load load-json load-baked update create try-create get set type
            count exists option-exists keys new delete find json dump dump-public validate
            commit cancel free problems changes describe' "${COMP_WORDS[1]}"
        return 0
    fi
    case ${COMP_WORDS[1]} in
    get | type | count | exists | keys | new | delete | find | json | dump | dump-public | describe)
        _config_path
        ;;
    set | option-exists) _config_path value ;;
    commit) ((COMP_CWORD == 2)) && _config_words '-f' "${COMP_WORDS[2]}" ;;
    esac
    return 0
}

complete -F _config config
complete -F _config_client config-client
