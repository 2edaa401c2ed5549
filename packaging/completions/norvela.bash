# bash completion for norvela                                     -*- shell-script -*-

_norvela_account_keys() {
    norvela accounts 2>/dev/null | while read -r key _; do printf '%s\n' "$key"; done
}

_norvela() {
    local cur=${COMP_WORDS[COMP_CWORD]}
    local commands="accounts hash link unlink folder sync status pause resume share versions
        restore ls scan check-ignore"
    COMPREPLY=()

    if ((COMP_CWORD == 1)); then
        mapfile -t COMPREPLY < <(compgen -W "$commands --help --version" -- "$cur")
        return
    fi

    local command=${COMP_WORDS[1]} options="--help"
    case $command in
        link) options+=" --no-browser" ;;
        sync) options+=" --once" ;;
        status | versions | ls) options+=" --json" ;;
        scan) options+=" --count" ;;
    esac
    if [[ $cur == -* ]]; then
        mapfile -t COMPREPLY < <(compgen -W "$options" -- "$cur")
        return
    fi

    # Which positional argument is being typed: options do not count.
    local i position=0 first=""
    for ((i = 2; i < COMP_CWORD; i++)); do
        [[ ${COMP_WORDS[i]} == -* ]] && continue
        ((position++ == 0)) && first=${COMP_WORDS[i]}
    done

    local want=""
    case $command:$position in
        hash:0) want=words:"dropbox md5" ;;
        link:0) want=words:"dropbox gdrive" ;;
        unlink:0 | folder:0 | pause:0 | resume:0 | ls:0) want=keys ;;
        folder:1 | scan:0 | check-ignore:0) want=dirs ;;
        check-ignore:*) [[ $cur == [/~]* ]] && want=files || want=inside ;;
        hash:* | share:0 | versions:0 | restore:0) want=files ;;
    esac
    case $want in
        words:*) mapfile -t COMPREPLY < <(compgen -W "${want#words:}" -- "$cur") ;;
        keys) mapfile -t COMPREPLY < <(compgen -W "$(_norvela_account_keys)" -- "$cur") ;;
        dirs)
            compopt -o filenames 2>/dev/null
            mapfile -t COMPREPLY < <(compgen -d -- "$cur")
            ;;
        files)
            compopt -o filenames 2>/dev/null
            mapfile -t COMPREPLY < <(compgen -f -- "$cur")
            ;;
        inside)
            # check-ignore takes paths relative to its FOLDER, wherever the shell stands.
            local base=${first/#\~/$HOME} entry
            base=${base%/}/
            while IFS= read -r entry; do
                [[ -d $entry ]] && entry+=/
                COMPREPLY+=("${entry#"$base"}")
            done < <(compgen -f -- "$base$cur")
            compopt -o filenames 2>/dev/null
            [[ ${#COMPREPLY[@]} -eq 1 && ${COMPREPLY[0]} == */ ]] && compopt -o nospace 2>/dev/null
            ;;
    esac
}

complete -F _norvela norvela
