import QtQuick
import QtQuick.Layouts
import Norvela

// One provider to link on the onboarding window: its symbol in a tinted square, the name over
// a line about it, and a chevron. A disabled row is drawn faded and ignores clicks.
RowButton {
    id: row

    property string symbol
    property string title
    property string subtitle

    Accessible.name: title
    Accessible.description: subtitle
    implicitWidth: implicitContentWidth + leftPadding + rightPadding
    implicitHeight: implicitContentHeight + topPadding + bottomPadding
    opacity: enabled ? 1 : 0.55
    topPadding: 10
    bottomPadding: 10

    contentItem: RowLayout {
        spacing: 12

        Rectangle {
            implicitWidth: 36
            implicitHeight: 36
            radius: 9
            color: Qt.rgba(Theme.accent.r, Theme.accent.g, Theme.accent.b, 0.10)

            SymbolIcon {
                anchors.centerIn: parent
                symbol: row.symbol
                size: 20
                color: Theme.accent
            }
        }
        ColumnLayout {
            spacing: 2
            Layout.fillWidth: true

            TextLine {
                objectName: row.objectName + "Title"
                role: "cardTitle"
                text: row.title
                Layout.fillWidth: true
            }
            TextLine {
                objectName: row.objectName + "Subtitle"
                role: "caption"
                text: row.subtitle
                Layout.fillWidth: true
            }
        }
        SymbolIcon {
            symbol: "chevron.right"
            size: 16
        }
    }
}
