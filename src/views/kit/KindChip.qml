import QtQuick
import Norvela

// The file-kind badge in front of a file name.
Rectangle {
    property string fileName

    implicitWidth: Math.max(32, chipText.implicitWidth + 8)
    implicitHeight: 18
    radius: 4
    color: FileKinds.background(fileName, Theme.dark)
    Accessible.ignored: true

    Text {
        id: chipText
        anchors.centerIn: parent
        text: FileKinds.label(parent.fileName)
        font.pixelSize: 10
        font.weight: Font.DemiBold
        color: FileKinds.foreground(parent.fileName, Theme.dark)
    }
}
