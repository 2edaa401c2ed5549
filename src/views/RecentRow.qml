import QtQuick
import QtQuick.Controls as Controls
import QtQuick.Layouts
import Norvela

// One recent upload: kind chip, name and age. A click reveals the file; its menu shares it
// or asks for its versions.
RowButton {
    id: row

    required property var file

    signal openRequested(var file)
    signal shareRequested(var file)
    signal versionHistoryRequested(var file)

    objectName: "recentRow"
    implicitHeight: 36
    topPadding: 0
    bottomPadding: 0
    leftPadding: 8
    rightPadding: 8
    Accessible.name: file.name + ", " + file.relativeTime
    onClicked: openRequested(file)
    onContextMenuRequested: (position) => menu.popup(row, position)

    contentItem: RowLayout {
        spacing: 8
        KindChip { fileName: row.file.name }
        TextLine {
            objectName: "recentName"
            role: "body"
            text: row.file.name
            Layout.fillWidth: true
        }
        TextLine {
            objectName: "recentTime"
            role: "caption"
            text: row.file.relativeTime
        }
    }

    Controls.Menu {
        id: menu
        objectName: "recentMenu"
        padding: 4
        background: Rectangle {
            implicitWidth: 188
            radius: 6
            color: Theme.cardBackground
            border.width: 1
            border.color: Theme.hairline
        }

        MenuRow {
            objectName: "copySharedLinkItem"
            text: "Copy Shared Link"
            onTriggered: row.shareRequested(row.file)
        }
        MenuRow {
            objectName: "versionHistoryItem"
            text: "Version History…"
            onTriggered: row.versionHistoryRequested(row.file)
        }
    }
}
