import QtQuick
import QtQuick.Controls.Basic as Controls
import QtQuick.Layouts
import Norvela

// The stored versions of one file, newest (current) first, each older one restorable.
Window {
    id: root

    required property AppModel app
    // A RecentFile.
    required property var file

    title: "Version History"
    width: 420
    height: 360
    minimumWidth: width
    maximumWidth: width
    minimumHeight: height
    maximumHeight: height
    color: Theme.windowBackground

    onVisibleChanged: if (visible) versions.load()
    Component.onCompleted: if (visible) versions.load()

    VersionHistoryState {
        id: versions
        app: root.app
        file: root.file
    }

    Shortcut {
        sequence: "Escape"
        onActivated: root.close()
    }

    ColumnLayout {
        anchors.fill: parent
        anchors.margins: 20
        spacing: 12

        RowLayout {
            spacing: 10
            Layout.fillWidth: true

            KindChip { fileName: root.file.name }
            ColumnLayout {
                spacing: 2
                Layout.fillWidth: true

                TextLine {
                    objectName: "fileName"
                    role: "body"
                    text: root.file.name
                    Layout.fillWidth: true
                }
                TextLine {
                    objectName: "windowSubtitle"
                    role: "caption"
                    text: "Version history"
                    Layout.fillWidth: true
                }
            }
            PushButton {
                objectName: "doneButton"
                text: "Done"
                onClicked: root.close()
            }
        }

        Item {
            readonly property bool failed: versions.errorText.length > 0

            Layout.fillWidth: true
            Layout.fillHeight: true

            Controls.BusyIndicator {
                objectName: "loadingIndicator"
                anchors.centerIn: parent
                visible: versions.loading
                running: visible
                Accessible.name: "Loading versions"
            }
            TextLine {
                objectName: "loadError"
                anchors.centerIn: parent
                width: parent.width
                visible: !versions.loading && parent.failed
                role: "secondary"
                text: versions.errorText
                wrapMode: Text.WordWrap
                horizontalAlignment: Text.AlignHCenter
            }
            TextLine {
                objectName: "noVersions"
                anchors.centerIn: parent
                visible: !versions.loading && !parent.failed && versions.revisions.length === 0
                role: "secondary"
                text: "No earlier versions found"
            }
            ListView {
                objectName: "versionList"
                anchors.fill: parent
                clip: true
                visible: !versions.loading && !parent.failed && count > 0
                model: versions.revisions
                keyNavigationEnabled: false
                Controls.ScrollBar.vertical: Controls.ScrollBar {}

                delegate: Rectangle {
                    id: versionRow

                    required property var modelData
                    readonly property bool restoring: versions.restoringID === modelData.id

                    objectName: "versionRow"
                    width: ListView.view.width
                    height: 44
                    radius: 6
                    color: rowHover.hovered ? Theme.hoverFill : "transparent"

                    HoverHandler { id: rowHover }

                    RowLayout {
                        anchors.fill: parent
                        anchors.leftMargin: 12
                        anchors.rightMargin: 12
                        spacing: 8

                        ColumnLayout {
                            spacing: 2
                            Layout.fillWidth: true

                            TextLine {
                                objectName: "versionDate"
                                role: "body"
                                text: versionRow.modelData.date
                                Layout.fillWidth: true
                            }
                            TextLine {
                                objectName: "versionDetail"
                                role: "caption"
                                text: versionRow.modelData.detail
                                Layout.fillWidth: true
                            }
                        }
                        TextLine {
                            objectName: "currentLabel"
                            visible: versionRow.modelData.current
                            role: "caption"
                            text: "Current"
                        }
                        Controls.BusyIndicator {
                            objectName: "restoreBusy"
                            visible: !versionRow.modelData.current && versionRow.restoring
                            running: visible
                            implicitWidth: 24
                            implicitHeight: 24
                            Accessible.name: "Restoring"
                        }
                        PushButton {
                            objectName: "restoreButton"
                            visible: !versionRow.modelData.current && !versionRow.restoring
                            text: "Restore"
                            Accessible.description: versionRow.modelData.date
                            onClicked: versions.restore(versionRow.modelData.id)
                        }
                    }
                }
            }
        }

        TextLine {
            objectName: "caption"
            role: "caption"
            text: versions.caption
            wrapMode: Text.WordWrap
            Layout.fillWidth: true
        }
    }
}
