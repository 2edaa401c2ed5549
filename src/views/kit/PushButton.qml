import QtQuick
import QtQuick.Templates as T
import Norvela

// A labelled button, 24 high; `isDefault` draws it in the accent colour.
T.AbstractButton {
    id: control

    property bool isDefault: false

    implicitWidth: Math.max(56, label.implicitWidth + 20)
    implicitHeight: 24
    focusPolicy: Qt.StrongFocus
    hoverEnabled: true
    Accessible.role: Accessible.Button
    Accessible.name: text
    Keys.onReturnPressed: clicked()
    Keys.onEnterPressed: clicked()

    background: Rectangle {
        radius: 6
        color: control.isDefault ? Theme.accent : control.hovered ? Theme.pushButtonHover : Theme.pushButtonFill
        opacity: control.enabled ? 1 : 0.55
        Behavior on color { ColorAnimation { duration: 100 } }
        FocusRing { shown: control.visualFocus; cornerRadius: 6 }
    }
    contentItem: Text {
        id: label
        text: control.text
        font.pixelSize: 12
        color: control.isDefault ? "white" : Theme.textPrimary
        horizontalAlignment: Text.AlignHCenter
        verticalAlignment: Text.AlignVCenter
        elide: Text.ElideRight
    }
}
