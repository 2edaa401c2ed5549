import QtQuick
import QtQuick.Layouts
import Norvela

// One linked account: who it is, its storage, its folder, a large folder waiting for approval,
// and unlinking.
Card {
    id: card

    required property AppModel app
    required property AccountModel account

    signal chooseFolder()
    signal editIgnorePatterns()
    signal syncAnyway()

    objectName: "accountCard"
    spacing: 12

    RowLayout {
        spacing: 10
        Layout.fillWidth: true

        Rectangle {
            implicitWidth: 32
            implicitHeight: 32
            radius: 16
            color: Theme.accent
            Accessible.ignored: true

            Text {
                anchors.centerIn: parent
                text: card.account.displayName.charAt(0)
                font.pixelSize: 15
                font.bold: true
                color: "white"
            }
        }
        ColumnLayout {
            spacing: 2
            Layout.fillWidth: true

            TextLine {
                objectName: "accountName"
                role: "paneTitle"
                text: card.account.displayName
                Layout.fillWidth: true
            }
            TextLine {
                objectName: "accountLine"
                role: "caption"
                text: card.account.hasAccountInfo ? card.account.email + " · " + card.account.planName
                                                  : "Fetching account details…"
                Layout.fillWidth: true
            }
        }
    }

    ColumnLayout {
        visible: card.account.hasAccountInfo
        spacing: 4
        Layout.fillWidth: true

        TextLine {
            objectName: "usageLine"
            role: "caption"
            text: card.account.usageSummary + " used"
            Layout.fillWidth: true
        }
        ProgressTrack {
            objectName: "usageBar"
            value: card.account.usedFraction
            Layout.fillWidth: true
        }
    }

    RowLayout {
        spacing: 8
        Layout.fillWidth: true

        TextLine {
            objectName: "folderLine"
            role: "caption"
            color: Theme.textPrimary
            text: "Syncs " + card.account.folderPath
            elide: Text.ElideMiddle
            Layout.fillWidth: true
        }
        PushButton {
            objectName: "changeFolderButton"
            text: "Change…"
            Accessible.description: "Choose the folder " + card.account.displayName + " syncs"
            onClicked: card.chooseFolder()
        }
        PushButton {
            objectName: "ignorePatternsButton"
            text: "Ignore Patterns…"
            onClicked: card.editIgnorePatterns()
        }
    }

    RowLayout {
        objectName: "largeFolderRow"
        visible: card.account.pausedForLargeFolder
        spacing: 8
        Layout.fillWidth: true

        SymbolIcon {
            symbol: "exclamationmark.triangle.fill"
            size: 14
            color: Theme.pausedAmber
        }
        TextLine {
            objectName: "largeFolderNote"
            role: "caption"
            text: card.account.lastSyncedDescription
            // Orange, dark enough to read on a light card.
            color: Theme.dark ? Theme.pausedAmber : Qt.darker(Theme.pausedAmber, 1.4)
            wrapMode: Text.WordWrap
            maximumLineCount: 2
            Layout.fillWidth: true
        }
        PushButton {
            objectName: "syncAnywayButton"
            text: "Sync Anyway…"
            onClicked: card.syncAnyway()
        }
    }

    Hairline {
        color: Theme.cardHairline
    }
    PushButton {
        objectName: "unlinkButton"
        text: "Unlink"
        Accessible.description: "Unlink " + card.account.displayName
        onClicked: card.app.unlink(card.account)
    }
}
