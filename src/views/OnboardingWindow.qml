import QtQuick
import QtQuick.Layouts
import Norvela

// The first-run window inviting the user to link an account. Hidden, never destroyed, by
// "Skip for Now", Escape, or the app after a successful link.
Window {
    id: root

    required property AppModel app

    title: "Norvela"
    flags: Qt.Dialog | Qt.CustomizeWindowHint | Qt.WindowTitleHint
    width: 380
    height: content.implicitHeight + 48
    minimumWidth: width
    maximumWidth: width
    minimumHeight: height
    maximumHeight: height
    color: Theme.windowBackground

    Shortcut {
        sequence: "Escape"
        onActivated: root.hide()
    }

    // The window moves when its background is dragged, as its title bar would move it.
    DragHandler {
        target: null
        onActiveChanged: if (active) root.startSystemMove()
    }

    ColumnLayout {
        id: content

        anchors.left: parent.left
        anchors.right: parent.right
        anchors.top: parent.top
        anchors.margins: 24
        spacing: 0

        Rectangle {
            objectName: "appGlyph"
            implicitWidth: 52
            implicitHeight: 52
            radius: 14
            color: Theme.accent
            Layout.alignment: Qt.AlignHCenter
            Accessible.ignored: true

            SymbolIcon {
                anchors.centerIn: parent
                symbol: "wind"
                size: 30
                color: "white"
            }
        }
        TextLine {
            objectName: "heading"
            role: "heading"
            text: "Welcome to " + "Norvela"
            Layout.alignment: Qt.AlignHCenter
            Layout.topMargin: 16
        }
        TextLine {
            objectName: "introduction"
            role: "secondary"
            text: "Keep one folder in sync with your cloud storage.\nChoose where your files should live."
            color: Theme.textSecondary
            wrapMode: Text.WordWrap
            horizontalAlignment: Text.AlignHCenter
            Layout.fillWidth: true
            Layout.topMargin: 8
        }

        ProviderRow {
            objectName: "dropboxRow"
            symbol: "shippingbox.fill"
            title: "Dropbox"
            subtitle: "Sync with your Dropbox account"
            Layout.fillWidth: true
            Layout.topMargin: 20
            onClicked: root.app.startLink("dropbox")
        }
        ProviderRow {
            objectName: "googleDriveRow"
            symbol: "externaldrive.fill.badge.icloud"
            title: "Google Drive"
            subtitle: root.app.googleDriveConfigured ? "Sync with your Google account"
                                                     : "Coming soon — client not configured"
            enabled: root.app.googleDriveConfigured
            Layout.fillWidth: true
            Layout.topMargin: 8
            onClicked: root.app.startLink("googleDrive")
        }

        // The footer keeps its room whatever it shows, so the window never changes size.
        Item {
            implicitHeight: 44
            Layout.fillWidth: true
            Layout.topMargin: 12

            TextLine {
                objectName: "linkWaiting"
                anchors.centerIn: parent
                visible: root.app.isLinking
                role: "caption"
                text: "Waiting for your browser…"
            }
            TextLine {
                objectName: "linkError"
                anchors.centerIn: parent
                width: parent.width
                visible: !root.app.isLinking && root.app.linkError !== undefined
                role: "caption"
                text: root.app.linkError ?? ""
                color: Theme.dark ? "#ff6961" : "#c4161c"
                wrapMode: Text.WordWrap
                maximumLineCount: 3
                horizontalAlignment: Text.AlignHCenter
            }
        }

        PushButton {
            objectName: "skipButton"
            text: "Skip for Now"
            Layout.alignment: Qt.AlignHCenter
            Layout.topMargin: 8
            onClicked: root.hide()
        }
        TextLine {
            objectName: "preferencesNote"
            role: "caption"
            text: "You can link an account any time in Preferences → Account."
            wrapMode: Text.WordWrap
            horizontalAlignment: Text.AlignHCenter
            Layout.fillWidth: true
            Layout.topMargin: 8
        }
    }
}
