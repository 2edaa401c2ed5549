import QtQuick
import QtQuick.Layouts
import QtQuick.Templates as T
import Norvela

// One pane in the preferences' sidebar: its symbol and title, highlighted when selected or
// under the pointer.
T.AbstractButton {
    id: control

    property string symbol
    property bool selected: false

    implicitHeight: 28
    leftPadding: 10
    rightPadding: 10
    focusPolicy: Qt.StrongFocus
    hoverEnabled: true
    Accessible.role: Accessible.PageTab
    Accessible.name: text
    Accessible.selected: selected
    Keys.onReturnPressed: clicked()
    Keys.onEnterPressed: clicked()

    background: Rectangle {
        radius: 6
        color: control.selected ? Qt.rgba(Theme.accent.r, Theme.accent.g, Theme.accent.b, Theme.dark ? 0.32 : 0.18)
             : control.hovered ? Theme.hoverFill : "transparent"
        Behavior on color { ColorAnimation { duration: 100 } }
        FocusRing { shown: control.visualFocus; cornerRadius: 6 }
    }
    contentItem: RowLayout {
        spacing: 8

        SymbolIcon {
            symbol: control.symbol
            size: 16
            color: control.selected ? Theme.accent : Theme.textSecondary
            Layout.preferredWidth: 18
        }
        TextLine {
            role: "body"
            text: control.text
            font.weight: control.selected ? Font.DemiBold : Font.Normal
            Layout.fillWidth: true
        }
    }
}
