import QtQuick
import QtQuick.Layouts
import Norvela

// The version with the update check, and feedback.
ColumnLayout {
    id: pane

    required property AppModel app
    // Set once a button here was used: the model's one-line status then answers it here too.
    property bool asked: false
    // The last check's age is re-read as time passes.
    property int tick: 0

    spacing: 16

    Timer {
        interval: 60 * 1000
        repeat: true
        running: true
        onTriggered: pane.tick++
    }

    Card {
        objectName: "versionCard"

        RowLayout {
            spacing: 12
            Layout.fillWidth: true

            ColumnLayout {
                spacing: 4
                Layout.fillWidth: true

                TextLine {
                    objectName: "versionLine"
                    role: "cardTitle"
                    text: "Norvela " + (Qt.application.version.length > 0 ? Qt.application.version : "dev")
                    Layout.fillWidth: true
                }
                TextLine {
                    objectName: "lastCheckLine"
                    role: "caption"
                    text: {
                        pane.tick
                        return pane.app.updater ? pane.app.updater.lastCheckDescription
                                                : "Updates are checked automatically"
                    }
                    Layout.fillWidth: true
                }
            }
            PushButton {
                objectName: "checkForUpdatesButton"
                text: "Check for Updates…"
                enabled: !(pane.app.updater && pane.app.updater.checking)
                onClicked: {
                    pane.asked = true
                    pane.app.checkForUpdates()
                }
            }
        }
        TextLine {
            objectName: "updateStatus"
            visible: pane.asked && pane.app.actionStatus !== undefined
            role: "caption"
            color: Theme.textPrimary
            text: pane.app.actionStatus ?? ""
            Layout.fillWidth: true
        }
    }

    Card {
        objectName: "supportCard"

        RowLayout {
            spacing: 12
            Layout.fillWidth: true

            ColumnLayout {
                spacing: 4
                Layout.fillWidth: true

                TextLine {
                    role: "cardTitle"
                    text: "Feedback & support"
                    Layout.fillWidth: true
                }
                TextLine {
                    objectName: "supportAddress"
                    role: "caption"
                    text: pane.app.supportAddress
                    Layout.fillWidth: true
                }
            }
            PushButton {
                objectName: "sendFeedbackButton"
                text: "Send Feedback…"
                onClicked: pane.app.composeFeedback()
            }
        }
    }
}
