import QtQuick
import QtQuick.Layouts
import Norvela

// The synced folder, start-up and notification switches, ignore patterns per folder, and the
// selective sync still to come.
ColumnLayout {
    id: pane

    required property AppModel app
    // MignoreFolder values: one means the single-folder form of the ignore card.
    property var ignoreFolders: []
    readonly property AccountModel firstAccount: app.accounts.length > 0 ? app.accounts[0] : null
    readonly property string folderPath: firstAccount ? firstAccount.folderPath : app.folderPath

    // `account` is null while none is linked: the app's own folder changes.
    signal chooseFolder(AccountModel account, string path)
    signal editIgnorePatterns(string path)

    spacing: 16

    Card {
        objectName: "folderCard"

        RowLayout {
            spacing: 12
            Layout.fillWidth: true

            ColumnLayout {
                spacing: 4
                Layout.fillWidth: true

                TextLine {
                    objectName: "folderTitle"
                    role: "cardTitle"
                    text: pane.app.accounts.length < 2 ? "Norvela folder"
                                                       : "Norvela folder — " + pane.firstAccount.displayName
                    Layout.fillWidth: true
                }
                TextLine {
                    objectName: "folderPath"
                    role: "caption"
                    text: pane.folderPath
                    elide: Text.ElideMiddle
                    Layout.fillWidth: true
                }
            }
            PushButton {
                objectName: "changeFolderButton"
                text: "Change…"
                Accessible.description: "Choose the synced folder"
                onClicked: pane.chooseFolder(pane.firstAccount, pane.folderPath)
            }
        }
    }

    Card {
        spacing: 12

        SwitchRow {
            switchName: "launchAtLoginSwitch"
            title: "Start syncing at login"
            value: pane.app.launchAtLogin
            onChangeRequested: (value) => pane.app.launchAtLogin = value
        }
        Hairline { color: Theme.cardHairline }
        SwitchRow {
            switchName: "notifySwitch"
            title: "Notify when files change"
            value: pane.app.notifyOnChanges
            onChangeRequested: (value) => pane.app.notifyOnChanges = value
        }
    }

    Card {
        objectName: "ignoreCard"

        TextLine {
            role: "cardTitle"
            text: "Ignore patterns (.mignore)"
            Layout.fillWidth: true
        }

        // One folder: its summary beside the button.
        RowLayout {
            visible: pane.ignoreFolders.length === 1
            spacing: 12
            Layout.fillWidth: true

            TextLine {
                objectName: "ignoreSummary"
                role: "caption"
                text: pane.ignoreFolders.length === 1 ? pane.ignoreFolders[0].cardSubtitle : ""
                wrapMode: Text.WordWrap
                Layout.fillWidth: true
            }
            PushButton {
                objectName: "editIgnoreButton"
                text: "Edit…"
                Accessible.description: "Edit the ignore patterns of " + pane.folderPath
                onClicked: pane.editIgnorePatterns(pane.ignoreFolders[0].path)
            }
        }

        // Several folders: a row each.
        Repeater {
            model: pane.ignoreFolders.length > 1 ? pane.ignoreFolders : []

            ColumnLayout {
                id: folderRow

                required property var modelData
                required property int index

                spacing: 8
                Layout.fillWidth: true

                Hairline {
                    visible: folderRow.index > 0
                    color: Theme.cardHairline
                }
                RowLayout {
                    spacing: 12
                    Layout.fillWidth: true

                    ColumnLayout {
                        spacing: 2
                        Layout.fillWidth: true

                        TextLine {
                            objectName: "ignoreFolderPath"
                            role: "body"
                            text: folderRow.modelData.path
                            elide: Text.ElideMiddle
                            Layout.fillWidth: true
                        }
                        TextLine {
                            objectName: "ignoreFolderSubtitle"
                            role: "caption"
                            text: folderRow.modelData.rowSubtitle
                            Layout.fillWidth: true
                        }
                    }
                    PushButton {
                        objectName: "editIgnoreFolderButton"
                        text: "Edit…"
                        Accessible.description: "Edit the ignore patterns of " + folderRow.modelData.path
                        onClicked: pane.editIgnorePatterns(folderRow.modelData.path)
                    }
                }
            }
        }
    }

    Card {
        objectName: "selectiveSyncCard"

        RowLayout {
            spacing: 8

            TextLine {
                role: "cardTitle"
                text: "Selective Sync"
            }
            Rectangle {
                implicitWidth: badgeText.implicitWidth + 10
                implicitHeight: 16
                radius: 4
                color: Theme.pushButtonFill

                TextLine {
                    id: badgeText
                    anchors.centerIn: parent
                    role: "section"
                    text: "COMING SOON"
                }
            }
        }
        TextLine {
            role: "caption"
            text: "Choose exactly which folders live on " + DesktopWords.thisComputer + " — coming with two-way sync."
            wrapMode: Text.WordWrap
            Layout.fillWidth: true
        }

        ColumnLayout {
            objectName: "selectiveSyncList"
            enabled: false
            opacity: 0.4
            spacing: 4
            Layout.fillWidth: true
            Layout.topMargin: 4

            Repeater {
                model: pane.app.selectiveSyncFolders

                RowLayout {
                    id: selectiveRow

                    required property var modelData

                    objectName: "selectiveSyncRow"
                    spacing: 8
                    Layout.fillWidth: true

                    Rectangle {
                        objectName: "selectiveSyncCheck"
                        implicitWidth: 14
                        implicitHeight: 14
                        radius: 3
                        color: selectiveRow.modelData.included ? Theme.accent : "transparent"
                        border.width: selectiveRow.modelData.included ? 0 : 1
                        border.color: Theme.textSecondary
                        Accessible.role: Accessible.CheckBox
                        Accessible.checked: selectiveRow.modelData.included
                        Accessible.name: selectiveRow.modelData.name

                        SymbolIcon {
                            anchors.centerIn: parent
                            visible: selectiveRow.modelData.included
                            symbol: "checkmark"
                            size: 12
                            color: "white"
                        }
                    }
                    SymbolIcon {
                        symbol: "folder.fill"
                        size: 16
                        color: "#7CA6D9"
                    }
                    TextLine {
                        role: "body"
                        text: selectiveRow.modelData.name
                        Layout.fillWidth: true
                    }
                    TextLine {
                        role: "caption"
                        text: selectiveRow.modelData.size
                    }
                }
            }
        }
    }
}
