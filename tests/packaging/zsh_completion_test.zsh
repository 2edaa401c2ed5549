#!/bin/zsh -f
# Types command lines into an interactive zsh on a pseudo-terminal, presses Tab and collects
# what the completion offers (a compadd wrapper prints every match it adds).
#   zsh_completion_test.zsh COMPLETION_DIR TREE KEYS   (PATH reaches the norvela under test)
#   zsh_completion_test.zsh --commands COMPLETION_DIR   (the command names it offers first)
zmodload zsh/zpty || exit 1
if [[ $1 == --commands ]]; then
    completion_dir=$2
else
    completion_dir=$1 tree=$2 keys=$3
fi

zpty -b shell zsh -f -i
await() { local out; zpty -r -m shell out "*$1*" }
# Only the completion system's own helpers beside ours: compinit then reads a fifth of the files.
system=${fpath[(r)*/functions/Completion]}
zpty -w shell "PROMPT='> ' PROMPT_EOL_MARK=''; fpath=($completion_dir $system $system/Base $system/Unix)"
zpty -w shell "autoload -Uz compinit; compinit -u -D"
zpty -w shell 'compadd() {
    if (( ${@[(I)-[OAD]*]} )); then builtin compadd "$@"; return; fi
    local -a hits; builtin compadd -O hits "$@"; print -rl -- ${hits/#/MATCH:}; builtin compadd "$@"
}'
zpty -w shell 'zstyle ":completion:*" list-prompt ""; zstyle ":completion:*" menu no; LISTMAX=10000'
zpty -w shell "print READY''"
await READY

# Prints the sorted, distinct matches offered after typing $1 and Tab, on one line.
offered() {
    local out
    zpty -n -w shell "$1"$'\t'
    zpty -w shell $'\C-u'"print DO''NE"
    zpty -r -m shell out '*DONE*'
    # The first match shares its line with the echo of what was typed.
    local -a matches=(${${(M)${(f)out//$'\r'/}:#*MATCH:*}##*MATCH:})
    print -r -- ${(j: :)${(ou)matches}}
}

if [[ $1 == --commands ]]; then
    print -rl -- ${(z)$(offered "norvela ")}
    zpty -d shell
    exit
fi

failures=0
expect() {
    local got=$(offered $2)
    if [[ $got != $1 ]]; then
        print -r -- "FAIL: zsh: '$2<Tab>': got '$got', want '$1'" >&2
        (( failures++ ))
    fi
}

expect "accounts check-ignore folder hash link ls pause restore resume scan share status sync unlink versions" "norvela "
expect "--help --version" "norvela --"
expect "dropbox gdrive" "norvela link "
expect "--help --no-browser" "norvela link dropbox --"
expect "dropbox md5" "norvela hash "
expect "--help --once" "norvela sync --"
expect "--help --json" "norvela ls --"
expect "--count --help" "norvela scan $tree --"
for command in unlink folder pause resume ls; do
    expect $keys "norvela $command "
done
expect $keys "norvela ls --json "
expect "src sub\\ dir" "norvela folder gdrive $tree/"
expect "notes.txt" "norvela share $tree/n"
# check-ignore completes inside its folder, wherever the shell stands.
expect "notes.txt src sub\\ dir" "norvela check-ignore $tree "
expect "main.c" "norvela check-ignore $tree src/"

zpty -d shell
(( failures == 0 ))
