import QtQuick
import QtQuick.Templates as T
import Norvela

// One entry of a context menu: the text, highlighted in the accent colour under the pointer
// or the keyboard.
T.MenuItem {
    id: control

    implicitWidth: Math.max(180, label.implicitWidth + leftPadding + rightPadding)
    implicitHeight: 26
    leftPadding: 12
    rightPadding: 12
    hoverEnabled: true
    Accessible.role: Accessible.MenuItem
    Accessible.name: text

    contentItem: Text {
        id: label
        text: control.text
        font.pixelSize: 13
        color: control.highlighted ? "white" : Theme.textPrimary
        verticalAlignment: Text.AlignVCenter
        elide: Text.ElideRight
    }
    background: Rectangle {
        radius: 4
        color: control.highlighted ? Theme.accent : "transparent"
    }
}
