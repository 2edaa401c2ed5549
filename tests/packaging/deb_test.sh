#!/bin/bash
# Packs this build tree with `cpack -G DEB`, unpacks the package into a scratch root and checks
# what a user gets: the files and nothing else, stripped executables that run, valid desktop
# and AppStream metadata, the run-time dependencies, and docs that name every command.
#   deb_test.sh BUILD_DIR SCRATCH_DIR VERSION SANITIZED CPACK
set -euo pipefail
build=$1 scratch=$2 version=$3 sanitized=$4 cpack=$5
here=$(dirname "$0")

if [[ $sanitized == 1 ]]; then
    echo "sanitizer build: its executables need the sanitizer runtimes, so it is not packaged"
    exit 77
fi

failures=0
fail() {
    echo "FAIL: $*" >&2
    failures=$((failures + 1))
}

rm -rf "$scratch"
mkdir -p "$scratch"
# gzip rather than the package's xz: same contents, a fraction of the time.
if ! "$cpack" -G DEB --config "$build/CPackConfig.cmake" -B "$scratch/out" \
    -D CPACK_DEBIAN_COMPRESSION_TYPE=gzip >"$scratch/cpack.log" 2>&1; then
    cat "$scratch/cpack.log"
    echo "FAIL: cpack" >&2
    exit 1
fi
deb=$scratch/out/norvela_${version}_$(dpkg --print-architecture).deb
[[ -f $deb ]] || { ls "$scratch/out"; echo "FAIL: no $deb" >&2; exit 1; }
root=$scratch/root
dpkg-deb -x "$deb" "$root"

expected="usr/bin/Norvela
usr/bin/norvela
usr/share/applications/app.norvela.Norvela.desktop
usr/share/bash-completion/completions/norvela
usr/share/icons/hicolor/scalable/apps/app.norvela.Norvela.svg
usr/share/man/man1/norvela.1
usr/share/metainfo/app.norvela.Norvela.metainfo.xml
usr/share/zsh/vendor-completions/_norvela"
actual=$(cd "$root" && find . -type f -printf '%P\n' | LC_ALL=C sort)
[[ $actual == "$expected" ]] || fail "package files differ:"$'\n'"$(diff <(echo "$expected") <(echo "$actual"))"

for exe in Norvela norvela; do
    [[ -x $root/usr/bin/$exe ]] || fail "usr/bin/$exe is not executable"
    readelf -S --wide "$root/usr/bin/$exe" | grep -q '\.debug_info' && fail "usr/bin/$exe is not stripped"
    readelf -d "$root/usr/bin/$exe" | grep -qE 'RPATH|RUNPATH' && fail "usr/bin/$exe carries a library search path"
done
cli=$root/usr/bin/norvela
got=$("$cli" --version) || fail "norvela --version exited $?"
[[ $got == "norvela $version" ]] || fail "norvela --version printed '$got'"

[[ $(dpkg-deb -f "$deb" Package) == norvela ]] || fail "package name"
depends=$(dpkg-deb -f "$deb" Depends)
for dep in libqt6core6 libqt6gui6 libqt6widgets6 libqt6network6 libssl3 qt6-qpa-plugins \
    qml6-module-qtquick qml6-module-qtquick-controls qml6-module-qtquick-layouts \
    qml6-module-qtquick-window qml6-module-qtquick-dialogs qml6-module-qtqml-workerscript; do
    [[ ", $depends," == *", $dep"[\ ,]* ]] || fail "Depends lacks $dep: $depends"
done

share=$root/usr/share
desktop-file-validate "$share/applications/app.norvela.Norvela.desktop" || fail "desktop-file-validate"
metainfo=$share/metainfo/app.norvela.Norvela.metainfo.xml
report=$(appstreamcli validate --no-net "$metainfo" 2>&1) || fail "appstreamcli validate: $report"
grep -E '^[EW]: ' <<<"$report" && fail "appstreamcli reports errors or warnings"
grep -q "<release version=\"$version\"" "$metainfo" || fail "metainfo has no release $version"
man=$share/man/man1/norvela.1
warnings=$(groff -man -ww -z "$man" 2>&1)
[[ -z $warnings ]] || fail "groff: $warnings"
zsh -n "$share/zsh/vendor-completions/_norvela" || fail "zsh cannot parse _norvela"
rsvg-convert -w 16 -h 16 "$share/icons/hicolor/scalable/apps/app.norvela.Norvela.svg" -o "$scratch/icon16.png" ||
    fail "the icon does not render"

# The docs must cover every command the tool lists, so neither can fall behind the other.
commands=$("$cli" --help | awk '/^Commands:/ { on = 1; next } on && NF == 0 { exit } on { print $1 }')
[[ -n $commands ]] || fail "no commands in norvela --help"
man_entries=$(awk 'tp && /^\.B[IR]? / { gsub(/\\-/, "-", $2); print $2 } { tp = ($0 == ".TP") }' "$man")
bash_words=$(bash "$here/shell_completion_test.sh" --commands "$share/bash-completion/completions/norvela")
zsh_words=$(zsh -f "$here/zsh_completion_test.zsh" --commands "$share/zsh/vendor-completions")
for command in $commands; do
    grep -qxF -- "$command" <<<"$man_entries" || fail "the man page has no entry for '$command'"
    grep -qxF -- "$command" <<<"$bash_words" || fail "bash does not complete '$command'"
    grep -qxF -- "$command" <<<"$zsh_words" || fail "zsh does not complete '$command'"
done

((failures == 0)) || exit 1
echo "ok: $(basename "$deb"), $(du -k "$deb" | cut -f1) KiB, commands: $(echo $commands)"
