#!/bin/bash
# Drives the bash completion the way bash does on Tab (COMP_WORDS and COMP_CWORD in, COMPREPLY
# out), then the zsh one on a pseudo-terminal. Account keys come from the real
# `norvela accounts` over credential files written here.
#   shell_completion_test.sh COMPLETION_DIR NORVELA_BIN_DIR
#   shell_completion_test.sh --commands BASH_COMPLETION_FILE   (the command names it offers first)
set -uo pipefail

# Prints the candidates for the command line "$@" (its last word is the one being completed),
# sorted, on one line.
complete_words() {
    COMP_WORDS=("$@")
    COMP_CWORD=$(($# - 1))
    COMPREPLY=()
    _norvela
    printf '%s\n' "${COMPREPLY[@]}" | LC_ALL=C sort | paste -sd ' '
}

if [[ $1 == --commands ]]; then
    source "$2"
    complete_words norvela "" | tr ' ' '\n'
    exit
fi

completion_dir=$(cd "$1" && pwd)
here=$(cd "$(dirname "$0")" && pwd)
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
export PATH=$2:$PATH NORVELA_APP_SUPPORT_DIR=$scratch/support HOME=$scratch/home
export XDG_CONFIG_HOME=$scratch/home/.config XDG_DATA_HOME=$scratch/home/.local/share
mkdir -p "$NORVELA_APP_SUPPORT_DIR" "$HOME" "$scratch/tree/sub dir" "$scratch/tree/src"
touch "$scratch/tree/notes.txt" "$scratch/tree/src/main.c"
# shellcheck source=/dev/null
source "$completion_dir/norvela.bash"

failures=0
expect() {
    local want=$1
    shift
    local got
    got=$(complete_words "$@")
    if [[ $got != "$want" ]]; then
        echo "FAIL: norvela ${*:2}<Tab>: got '$got', want '$want'" >&2
        failures=$((failures + 1))
    fi
}

slot() { echo "{\"uid\": \"$1\", \"email\": \"$2\", \"refreshToken\": \"t\", \"storageKey\": \"$3\"}"; }

# Before any account is linked, nothing to offer.
expect "" norvela unlink ""

cat >"$NORVELA_APP_SUPPORT_DIR/dropbox-credentials.json" <<JSON
{"accounts": [$(slot 1 ann@example.com dropbox), $(slot 2 bob@example.com dropbox-bob-example-com)]}
JSON
cat >"$NORVELA_APP_SUPPORT_DIR/google-credentials.json" <<JSON
{"accounts": [$(slot 3 ann@example.com gdrive)]}
JSON
keys="dropbox dropbox-bob-example-com gdrive"

# Command names, and the words some commands take first.
expect "--help --version accounts check-ignore folder hash link ls pause restore resume scan share status sync unlink versions" norvela ""
expect "restore resume" norvela re
expect "dropbox gdrive" norvela link ""
expect "dropbox md5" norvela hash ""
expect "" norvela accounts ""

# Options belong to their command.
expect "--help --no-browser" norvela link dropbox -
expect "--help --once" norvela sync -
expect "--help --json" norvela status --
expect "--help --json" norvela versions "$scratch/tree/notes.txt" --
expect "--help --json" norvela ls -
expect "--count --help" norvela scan "$scratch/tree" -
expect "--help" norvela pause -

# Account keys, first column of `norvela accounts`; options do not count as arguments.
for command in unlink folder pause resume ls; do
    expect "$keys" norvela "$command" ""
done
expect "dropbox dropbox-bob-example-com" norvela pause drop
expect "gdrive" norvela ls --json g
expect "" norvela unlink gdrive ""

# Folders and files.
expect "$scratch/tree/src $scratch/tree/sub dir" norvela folder gdrive "$scratch/tree/s"
expect "$scratch/tree/notes.txt $scratch/tree/src $scratch/tree/sub dir" norvela hash md5 "$scratch/tree/"
expect "$scratch/tree/notes.txt" norvela share "$scratch/tree/n"
expect "$scratch/tree/notes.txt" norvela restore "$scratch/tree/n"
expect "" norvela restore "$scratch/tree/notes.txt" ""
expect "$scratch/tree/src $scratch/tree/sub dir" norvela scan "$scratch/tree/"
# check-ignore's paths are relative to its folder, whatever the current directory.
cd /
expect "notes.txt src/ sub dir/" norvela check-ignore "$scratch/tree" ""
expect "src/main.c" norvela check-ignore "$scratch/tree" notes.txt src/m
expect "$scratch/tree/notes.txt" norvela check-ignore "$scratch/tree" "$scratch/tree/no"

zsh -f "$here/zsh_completion_test.zsh" "$completion_dir" "$scratch/tree" "$keys" ||
    failures=$((failures + 1))

((failures == 0)) || exit 1
echo "ok: bash and zsh completion"
