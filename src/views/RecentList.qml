import QtQuick
import QtQuick.Layouts
import Norvela

// Up to three recent uploads, or one line saying there are none.
ColumnLayout {
    id: list

    required property var files
    required property bool linked

    signal openRequested(var file)
    signal shareRequested(var file)
    signal versionHistoryRequested(var file)

    spacing: 0

    TextLine {
        objectName: "recentEmpty"
        visible: list.files.length === 0
        role: "caption"
        text: list.linked ? "No recent activity" : "Nothing synced yet"
        Layout.fillWidth: true
        Layout.leftMargin: 8
        Layout.topMargin: 4
        Layout.bottomMargin: 8
    }
    Repeater {
        model: list.files.slice(0, 3)
        RecentRow {
            required property var modelData
            file: modelData
            Layout.fillWidth: true
            onOpenRequested: (file) => list.openRequested(file)
            onShareRequested: (file) => list.shareRequested(file)
            onVersionHistoryRequested: (file) => list.versionHistoryRequested(file)
        }
    }
}
