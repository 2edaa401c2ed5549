import QtQuick
import QtQuick.Layouts
import Norvela

// A setting that is on or off: its title and explanation on the left, the switch on the right.
// The switch carries the title as its accessible name.
RowLayout {
    id: row

    property string title
    property string explanation
    property alias value: toggle.value
    property alias switchName: toggle.objectName

    signal changeRequested(bool value)

    spacing: 12
    Layout.fillWidth: true

    ColumnLayout {
        spacing: 4
        Layout.fillWidth: true

        TextLine {
            role: "body"
            text: row.title
            Layout.fillWidth: true
        }
        TextLine {
            visible: row.explanation.length > 0
            role: "caption"
            text: row.explanation
            wrapMode: Text.WordWrap
            Layout.fillWidth: true
        }
    }
    Switch {
        id: toggle
        text: row.title
        Accessible.description: row.explanation
        Layout.alignment: Qt.AlignVCenter
        onChangeRequested: (value) => row.changeRequested(value)
    }
}
