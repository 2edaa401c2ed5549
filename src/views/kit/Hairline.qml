import QtQuick
import QtQuick.Layouts
import Norvela

// A 1-pixel rule between sections.
Rectangle {
    implicitHeight: 1
    Layout.fillWidth: true
    color: Theme.hairline
}
