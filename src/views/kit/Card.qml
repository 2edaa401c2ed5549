import QtQuick
import QtQuick.Layouts
import Norvela

// A group of related settings: the card background, a hairline edge, 14-pixel insets; what
// it holds stacks as a column 8 apart.
Rectangle {
    default property alias content: column.data
    property alias spacing: column.spacing

    implicitHeight: column.implicitHeight + 28
    Layout.fillWidth: true
    radius: 10
    color: Theme.cardBackground
    border.width: 1
    border.color: Theme.cardHairline

    ColumnLayout {
        id: column
        anchors.fill: parent
        anchors.margins: 14
        spacing: 8
    }
}
