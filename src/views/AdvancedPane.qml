import QtQuick
import QtQuick.Layouts
import Norvela

// What does the syncing, and the command-line tool.
ColumnLayout {
    id: pane

    required property AppModel app
    // Set once "Install…" was used: the model's one-line status then answers it here too.
    property bool asked: false

    spacing: 16

    Card {
        objectName: "engineCard"
        spacing: 4

        TextLine {
            role: "cardTitle"
            text: "Sync engine"
            Layout.fillWidth: true
        }
        TextLine {
            role: "caption"
            text: "Native engine that talks directly to the Dropbox and Google Drive APIs"
            Layout.fillWidth: true
        }
    }

    Card {
        objectName: "cliCard"

        RowLayout {
            spacing: 12
            Layout.fillWidth: true

            SymbolIcon {
                symbol: "terminal"
                size: 20
                Layout.alignment: Qt.AlignTop
            }
            ColumnLayout {
                spacing: 4
                Layout.fillWidth: true

                TextLine {
                    role: "cardTitle"
                    text: "Command-line access"
                    Layout.fillWidth: true
                }
                TextLine {
                    role: "caption"
                    text: "Install the `norvela` CLI for scripting, headless sync and automation"
                    wrapMode: Text.WordWrap
                    Layout.fillWidth: true
                }
            }
            PushButton {
                objectName: "installCLIButton"
                text: "Install…"
                onClicked: {
                    pane.asked = true
                    pane.app.installCLI()
                }
            }
        }
        TextLine {
            objectName: "installStatus"
            visible: pane.asked && pane.app.actionStatus !== undefined
            role: "caption"
            color: Theme.textPrimary
            text: pane.app.actionStatus ?? ""
            wrapMode: Text.WordWrap
            Layout.fillWidth: true
        }
    }
}
