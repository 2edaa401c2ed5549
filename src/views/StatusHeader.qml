import QtQuick
import QtQuick.Layouts
import Norvela

// The dropdown's status: a coloured dot, title and subtitle when idle or paused; while
// syncing the file counts, the file in flight, the rate, a progress track and the way to the
// bandwidth settings. One button pauses or resumes.
ColumnLayout {
    id: header

    required property AppModel app

    signal preferencesRequested()

    readonly property bool syncing: app.displayStateName === "syncing"
    readonly property bool paused: app.displayStateName === "paused"

    spacing: 0

    RowLayout {
        spacing: 10
        Layout.fillWidth: true
        Layout.margins: 12
        Layout.bottomMargin: header.syncing ? 8 : 12

        Item {
            implicitWidth: header.syncing ? 16 : 8
            implicitHeight: implicitWidth
            StatusDot {
                visible: !header.syncing
                anchors.centerIn: parent
                color: header.paused ? Theme.pausedAmber : Theme.successGreen
            }
            SymbolIcon {
                visible: header.syncing
                anchors.centerIn: parent
                symbol: "arrow.triangle.2.circlepath"
                color: Theme.accent
            }
        }
        ColumnLayout {
            spacing: 2
            Layout.fillWidth: true
            TextLine {
                objectName: "statusTitle"
                role: "cardTitle"
                text: header.syncing ? "Syncing " + header.app.displayFilesDone + " of "
                                       + header.app.displayFilesTotal + " files"
                                     : header.paused ? header.app.displayPausedTitle : "Up to date"
                Layout.fillWidth: true
            }
            TextLine {
                objectName: "statusSubtitle"
                role: "caption"
                visible: text.length > 0
                text: header.syncing ? "Uploading " + header.app.displayCurrentFile
                                     : header.paused ? header.app.displayPausedSubtitle
                                                     : header.app.displayLastSynced
                Layout.fillWidth: true
            }
        }
        TextLine {
            objectName: "transferRate"
            visible: header.syncing && text.length > 0
            role: "caption"
            text: header.app.displayTransferRate
        }
        IconButton {
            objectName: "pauseResumeButton"
            symbol: header.paused ? "play.fill" : "pause.fill"
            helpText: header.paused ? "Resume syncing" : "Pause syncing"
            onClicked: header.app.togglePauseResume()
        }
    }
    ProgressTrack {
        objectName: "progressTrack"
        visible: header.syncing
        value: header.app.displayProgress
        Layout.fillWidth: true
        Layout.leftMargin: 12
        Layout.rightMargin: 12
    }
    ActionRow {
        objectName: "limitBandwidthRow"
        visible: header.syncing
        symbol: "chart.bar"
        text: "Limit bandwidth & schedule"
        Layout.fillWidth: true
        Layout.margins: 4
        Layout.topMargin: 6
        onClicked: header.preferencesRequested()
    }
}
