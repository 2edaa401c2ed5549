import QtQuick
import QtQuick.Templates as T
import Norvela

// A modal card over the window (a confirmation, an editor): the window behind it dims and
// takes no clicks; Escape closes it.
T.Popup {
    id: sheet

    parent: T.Overlay.overlay
    anchors.centerIn: parent
    modal: true
    focus: true
    padding: 20
    implicitWidth: Math.max(implicitBackgroundWidth + leftInset + rightInset,
                            implicitContentWidth + leftPadding + rightPadding)
    implicitHeight: Math.max(implicitBackgroundHeight + topInset + bottomInset,
                             implicitContentHeight + topPadding + bottomPadding)
    closePolicy: T.Popup.CloseOnEscape

    background: Rectangle {
        radius: 10
        color: Theme.windowBackground
        border.width: 1
        border.color: Theme.hairline
    }
    T.Overlay.modal: Rectangle {
        color: Qt.rgba(0, 0, 0, Theme.dark ? 0.5 : 0.3)
    }
}
