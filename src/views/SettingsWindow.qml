import QtQuick
import QtQuick.Layouts
import Norvela

// Where the preferences will live; until they exist it says so.
Window {
    id: window

    required property AppModel app

    title: "Norvela Preferences"
    flags: Qt.Dialog
    color: Theme.windowBackground
    width: 360
    height: 140

    ColumnLayout {
        anchors.fill: parent
        anchors.margins: 20
        spacing: 8
        focus: true
        Keys.onEscapePressed: window.close()

        TextLine {
            role: "paneTitle"
            text: "Preferences"
        }
        TextLine {
            objectName: "settingsNote"
            role: "secondary"
            wrapMode: Text.WordWrap
            text: "Preferences come in the next version of Norvela."
            Layout.fillWidth: true
        }
        Item { Layout.fillHeight: true }
        PushButton {
            objectName: "settingsCloseButton"
            text: "Close"
            isDefault: true
            Layout.alignment: Qt.AlignRight
            onClicked: window.close()
        }
    }
}
