import QtQuick
import QtQuick.Layouts
import Norvela

// The linked accounts, one card each (or an invitation to link one), and adding another.
ColumnLayout {
    id: pane

    required property AppModel app
    // The account whose large folder waits for "Sync Anyway" in the confirmation.
    property AccountModel largeSyncTarget: null

    signal chooseFolder(AccountModel account)
    signal editIgnorePatterns(string path)
    signal addAccount()

    spacing: 16

    Card {
        objectName: "linkCard"
        visible: pane.app.accounts.length === 0

        RowLayout {
            spacing: 12
            Layout.fillWidth: true

            SymbolIcon {
                symbol: "person.crop.circle.badge.plus"
                size: 28
                Layout.alignment: Qt.AlignTop
            }
            ColumnLayout {
                spacing: 4
                Layout.fillWidth: true

                TextLine {
                    role: "cardTitle"
                    text: "No account linked"
                    Layout.fillWidth: true
                }
                TextLine {
                    objectName: "linkCardSubtitle"
                    role: "caption"
                    text: pane.app.linkError ?? "Connect Dropbox or Google Drive to start syncing"
                    color: pane.app.linkError !== undefined ? (Theme.dark ? "#ff6961" : "#c4161c")
                                                            : Theme.textSecondary
                    wrapMode: Text.WordWrap
                    maximumLineCount: 3
                    Layout.fillWidth: true
                }
            }
            TextLine {
                objectName: "linkWaiting"
                visible: pane.app.isLinking
                role: "caption"
                text: "Waiting for browser…"
            }
            PushButton {
                objectName: "addAccountButton"
                visible: !pane.app.isLinking
                text: "Add Account…"
                isDefault: true
                onClicked: pane.addAccount()
            }
        }
    }

    Repeater {
        model: pane.app.accounts

        AccountCard {
            required property AccountModel modelData
            app: pane.app
            account: modelData
            onChooseFolder: pane.chooseFolder(modelData)
            onEditIgnorePatterns: pane.editIgnorePatterns(modelData.folderPath)
            onSyncAnyway: {
                pane.largeSyncTarget = modelData
                largeFolderDialog.open()
            }
        }
    }

    Card {
        objectName: "addCard"

        RowLayout {
            spacing: 12
            Layout.fillWidth: true

            ColumnLayout {
                spacing: 4
                Layout.fillWidth: true

                TextLine {
                    role: "cardTitle"
                    text: "Add another account"
                    Layout.fillWidth: true
                }
                TextLine {
                    role: "caption"
                    text: "Any mix of Dropbox and Google Drive accounts, each with its own folder"
                    wrapMode: Text.WordWrap
                    Layout.fillWidth: true
                }
            }
            PushButton {
                objectName: "addButton"
                text: "Add…"
                onClicked: pane.addAccount()
            }
        }
    }

    LargeFolderDialog {
        id: largeFolderDialog
        account: pane.largeSyncTarget
        onClosed: pane.largeSyncTarget = null
    }
}
