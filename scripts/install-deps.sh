#!/bin/sh
# Puts every Debian package Norvela needs for building, testing and running
# on a bare Debian 12 machine. Safe to run again: quiet when all is present.
set -eu

PACKAGES="
build-essential cmake ninja-build pkg-config git
qt6-base-dev qt6-base-dev-tools qt6-declarative-dev qt6-declarative-dev-tools
qt6-httpserver-dev qt6-websockets-dev qt6-qpa-plugins qt6-wayland
qml6-module-qtqml qml6-module-qtqml-models qml6-module-qtqml-workerscript
qml6-module-qtquick qml6-module-qtquick-controls qml6-module-qtquick-templates
qml6-module-qtquick-layouts qml6-module-qtquick-window qml6-module-qtquick-dialogs
qml6-module-qt-labs-folderlistmodel
qcoro-qt6-dev libssl-dev openssl libgl-dev
libgtest-dev libgmock-dev clang-format clang libclang-rt-14-dev
fonts-material-design-icons-iconfont xvfb xauth trayer xdotool curl dbus-daemon
chromium
dpkg-dev appstream desktop-file-utils librsvg2-bin groff-base zsh
python3
"

missing=""
for p in $PACKAGES; do
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
        missing="$missing $p"
    fi
done
[ -z "$missing" ] && exit 0

SUDO=""
[ "$(id -u)" -ne 0 ] && SUDO="sudo"
echo "Installing:$missing"
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -qq
# shellcheck disable=SC2086
$SUDO apt-get install -y -qq --no-install-recommends $missing >/dev/null
