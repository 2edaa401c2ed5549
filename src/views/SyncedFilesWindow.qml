import QtQuick
import QtQuick.Controls.Basic as Controls
import QtQuick.Layouts
import QtQuick.Templates as T
import Norvela

// Every file an account's index records, with a search, and per file: copy a shared link,
// show its versions, reveal it in the file manager.
Window {
    id: root

    required property AppModel app
    // For rendering without a running app (NORVELA_STATIC_RENDER=1): the files and account shown.
    property var staticFiles: []
    property string staticAccountID: ""

    signal versionHistoryRequested(var file)

    title: "Synced Files"
    width: 520
    height: 480
    minimumWidth: width
    maximumWidth: width
    minimumHeight: height
    maximumHeight: height
    color: Theme.windowBackground

    onVisibleChanged: if (visible) filesState.load()
    Component.onCompleted: if (visible) filesState.load()

    SyncedFilesState {
        id: filesState
        app: root.app
        staticFiles: root.staticFiles
        selectedAccountID: root.staticAccountID
    }

    Shortcut {
        sequence: "Escape"
        onActivated: root.close()
    }

    component AccountButton: T.AbstractButton {
        id: accountButton

        property bool selected: false

        implicitWidth: accountLabel.implicitWidth + 16
        implicitHeight: 22
        focusPolicy: Qt.StrongFocus
        hoverEnabled: true
        Accessible.role: Accessible.Button
        Accessible.name: text
        Accessible.checked: selected
        Keys.onReturnPressed: clicked()
        Keys.onEnterPressed: clicked()

        background: Rectangle {
            radius: 6
            color: accountButton.selected ? Qt.rgba(Theme.accent.r, Theme.accent.g, Theme.accent.b, 0.18)
                 : accountButton.hovered ? Theme.hoverFill : "transparent"
            border.width: accountButton.selected ? 1 : 0
            border.color: Theme.accent
            FocusRing { shown: accountButton.visualFocus; cornerRadius: 6 }
        }
        contentItem: Text {
            id: accountLabel
            text: accountButton.text
            font.pixelSize: 11
            font.weight: accountButton.selected ? Font.DemiBold : Font.Normal
            color: Theme.textPrimary
            horizontalAlignment: Text.AlignHCenter
            verticalAlignment: Text.AlignVCenter
        }
    }

    ColumnLayout {
        anchors.fill: parent
        anchors.margins: 20
        spacing: 12

        RowLayout {
            spacing: 12
            Layout.fillWidth: true

            ColumnLayout {
                spacing: 4
                Layout.fillWidth: true

                TextLine {
                    objectName: "windowTitle"
                    role: "windowTitle"
                    text: "Synced Files"
                    Layout.fillWidth: true
                }
                TextLine {
                    objectName: "fileCount"
                    role: "caption"
                    text: filesState.subtitle
                    Layout.fillWidth: true
                }
            }
            PushButton {
                objectName: "doneButton"
                text: "Done"
                onClicked: root.close()
            }
        }

        Flow {
            objectName: "accountPicker"
            visible: filesState.showsAccountPicker
            spacing: 6
            Layout.fillWidth: true

            Repeater {
                model: root.app.accounts

                AccountButton {
                    required property var modelData
                    objectName: "accountButton"
                    text: modelData.displayName
                    selected: modelData === filesState.selectedAccount
                    onClicked: filesState.selectedAccountID = modelData.id
                }
            }
        }

        Controls.TextField {
            id: searchField
            objectName: "searchField"
            visible: !filesState.staticRender
            placeholderText: "Search files…"
            placeholderTextColor: Theme.textSecondary
            color: Theme.textPrimary
            selectionColor: Theme.accent
            selectedTextColor: "white"
            font.pixelSize: 12
            selectByMouse: true
            topPadding: 4
            bottomPadding: 4
            leftPadding: 8
            background: Rectangle {
                radius: 6
                color: Theme.cardBackground
                border.width: searchField.activeFocus ? 2 : 1
                border.color: searchField.activeFocus ? Theme.accent : Theme.cardHairline
            }
            Accessible.name: "Search files"
            Layout.fillWidth: true
            Layout.preferredHeight: 28
            onTextChanged: filesState.query = text
        }
        TextLine {
            // A picture of the field: a still rendering cannot type.
            objectName: "searchPlaceholder"
            visible: filesState.staticRender
            role: "secondary"
            text: "Search files…"
            color: Theme.textSecondary
            leftPadding: 8
            Layout.fillWidth: true
        }

        Item {
            Layout.fillWidth: true
            Layout.fillHeight: true

            TextLine {
                objectName: "emptyMessage"
                anchors.centerIn: parent
                width: Math.min(implicitWidth, parent.width)
                visible: !filesState.loading && fileList.count === 0
                role: "secondary"
                text: filesState.emptyText
                wrapMode: Text.WordWrap
                horizontalAlignment: Text.AlignHCenter
            }

            ListView {
                id: fileList

                objectName: "fileList"
                anchors.fill: parent
                clip: true
                visible: count > 0
                model: filesState.visibleFiles
                keyNavigationEnabled: false
                Controls.ScrollBar.vertical: Controls.ScrollBar {}

                delegate: Rectangle {
                    id: fileRow

                    required property var modelData

                    objectName: "fileRow"
                    width: ListView.view.width
                    height: 44
                    radius: 6
                    color: rowHover.hovered ? Theme.hoverFill : "transparent"
                    Behavior on color { ColorAnimation { duration: 100 } }

                    HoverHandler { id: rowHover }

                    RowLayout {
                        anchors.fill: parent
                        anchors.leftMargin: 12
                        anchors.rightMargin: 8
                        spacing: 8

                        // A column of its own, so names line up whatever the chip's width.
                        Item {
                            implicitWidth: 36
                            implicitHeight: chip.implicitHeight

                            KindChip {
                                id: chip
                                fileName: fileRow.modelData.name
                            }
                        }
                        ColumnLayout {
                            spacing: 2
                            Layout.fillWidth: true

                            TextLine {
                                objectName: "fileName"
                                role: "body"
                                text: fileRow.modelData.name
                                Layout.fillWidth: true
                            }
                            TextLine {
                                objectName: "fileSubtitle"
                                role: "caption"
                                text: filesState.rowSubtitle(fileRow.modelData)
                                elide: Text.ElideMiddle
                                Layout.fillWidth: true
                            }
                        }
                        IconButton {
                            objectName: "shareButton"
                            symbol: "link"
                            helpText: "Copy shared link"
                            onClicked: root.app.shareFile(fileRow.modelData)
                        }
                        IconButton {
                            objectName: "historyButton"
                            symbol: "clock"
                            helpText: "Version history"
                            onClicked: root.versionHistoryRequested(fileRow.modelData)
                        }
                        IconButton {
                            objectName: "revealButton"
                            symbol: "magnifyingglass"
                            helpText: filesState.revealHelpText
                            onClicked: root.app.openFile(fileRow.modelData)
                        }
                    }
                }
            }
        }

        TextLine {
            objectName: "footer"
            role: "caption"
            text: root.app.actionStatus ?? "Click a file's link icon to copy a shareable link · clock for version history"
            color: root.app.actionStatus !== undefined ? Theme.textPrimary : Theme.textSecondary
            Layout.fillWidth: true
        }
    }
}
