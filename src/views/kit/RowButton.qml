import QtQuick
import QtQuick.Templates as T
import Norvela

// A whole row that acts (a recent file, a provider): hover fill, focus ring, and a context
// menu on right click or the keyboard's menu key.
T.AbstractButton {
    id: control

    signal contextMenuRequested(point position)

    padding: 8
    leftPadding: 12
    rightPadding: 12
    focusPolicy: Qt.StrongFocus
    hoverEnabled: true
    Accessible.role: Accessible.Button
    Keys.onReturnPressed: clicked()
    Keys.onEnterPressed: clicked()
    Keys.onPressed: (event) => {
        if (event.key === Qt.Key_Menu || (event.key === Qt.Key_F10 && event.modifiers & Qt.ShiftModifier)) {
            contextMenuRequested(Qt.point(width / 2, height / 2))
            event.accepted = true
        }
    }

    background: Rectangle {
        radius: 6
        color: control.hovered || control.down ? Theme.hoverFill : "transparent"
        Behavior on color { ColorAnimation { duration: 100 } }
        FocusRing { shown: control.visualFocus; cornerRadius: 6 }
    }

    TapHandler {
        acceptedButtons: Qt.RightButton
        onTapped: (point) => control.contextMenuRequested(point.position)
    }
}
