import QtQuick
import QtQuick.Controls.Basic as Controls
import QtQuick.Templates as T
import Norvela

// A push button that opens a list of choices (`model`: strings) and shows the chosen one.
// It shows `value`, an index the model owns; a choice asks for it through `changeRequested`.
T.ComboBox {
    id: control

    property int value: 0

    signal changeRequested(int index)

    implicitWidth: 90
    implicitHeight: 24
    leftPadding: 10
    rightPadding: 24
    currentIndex: value
    focusPolicy: Qt.StrongFocus
    hoverEnabled: true
    Accessible.role: Accessible.ComboBox

    onActivated: (index) => {
        currentIndex = Qt.binding(() => control.value)
        changeRequested(index)
    }

    background: Rectangle {
        radius: 6
        color: control.hovered || control.pressed ? Theme.pushButtonHover : Theme.pushButtonFill
        opacity: control.enabled ? 1 : 0.55
        Behavior on color { ColorAnimation { duration: 100 } }
        FocusRing { shown: control.visualFocus; cornerRadius: 6 }
    }
    contentItem: Text {
        text: control.displayText
        font.pixelSize: 12
        color: Theme.textPrimary
        verticalAlignment: Text.AlignVCenter
        elide: Text.ElideRight
    }
    indicator: SymbolIcon {
        x: control.width - width - 6
        y: (control.height - height) / 2
        symbol: "chevron.up.chevron.down"
        size: 14
    }

    delegate: T.ItemDelegate {
        id: choice

        required property int index
        required property var modelData

        width: ListView.view.width
        implicitHeight: 24
        leftPadding: 8
        highlighted: control.highlightedIndex === index
        hoverEnabled: true
        Accessible.role: Accessible.ListItem
        Accessible.name: modelData

        contentItem: Text {
            text: choice.modelData
            font.pixelSize: 12
            font.weight: choice.index === control.currentIndex ? Font.DemiBold : Font.Normal
            color: choice.highlighted ? "white" : Theme.textPrimary
            verticalAlignment: Text.AlignVCenter
        }
        background: Rectangle {
            radius: 4
            color: choice.highlighted ? Theme.accent : "transparent"
        }
    }

    popup: T.Popup {
        y: control.height + 2
        width: control.width
        implicitHeight: Math.min(contentItem.implicitHeight + 8, 24 * 8 + 8)
        padding: 4

        contentItem: ListView {
            clip: true
            implicitHeight: contentHeight
            model: control.delegateModel
            currentIndex: control.highlightedIndex
            highlightMoveDuration: 0
            Controls.ScrollBar.vertical: Controls.ScrollBar {}
        }
        background: Rectangle {
            radius: 6
            color: Theme.panelBackground
            border.width: 1
            border.color: Theme.hairline
        }
    }
}
