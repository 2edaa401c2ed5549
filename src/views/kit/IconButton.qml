import QtQuick
import QtQuick.Controls as Controls
import QtQuick.Templates as T
import Norvela

// A symbol that acts: 24 × 24, a hover circle, the help text as tooltip and accessible name.
T.AbstractButton {
    id: control

    property string symbol
    property string helpText
    property int symbolSize: 16

    implicitWidth: 24
    implicitHeight: 24
    focusPolicy: Qt.StrongFocus
    hoverEnabled: true
    Accessible.role: Accessible.Button
    Accessible.name: helpText
    Keys.onReturnPressed: clicked()
    Keys.onEnterPressed: clicked()

    background: Rectangle {
        radius: width / 2
        color: control.hovered || control.down ? Theme.hoverFill : "transparent"
        Behavior on color { ColorAnimation { duration: 100 } }
        FocusRing { shown: control.visualFocus; cornerRadius: 12 }
    }
    contentItem: SymbolIcon {
        symbol: control.symbol
        size: control.symbolSize
        color: control.down ? Theme.textPrimary : Theme.textSecondary
    }

    Controls.ToolTip.visible: hovered && helpText.length > 0
    Controls.ToolTip.text: helpText
    Controls.ToolTip.delay: 600
}
