import QtQuick
import Norvela

// The 2-pixel accent ring around a control with keyboard focus; put it in the control's
// background and bind `shown` to the control's visualFocus.
Rectangle {
    property bool shown: false
    property real cornerRadius: 6

    anchors.fill: parent
    anchors.margins: -2
    radius: cornerRadius + 2
    color: "transparent"
    border.width: 2
    border.color: Theme.accent
    visible: shown
}
