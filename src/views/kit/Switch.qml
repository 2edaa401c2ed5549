import QtQuick
import QtQuick.Templates as T
import Norvela

// An on/off switch showing `value`; a click or Space asks for the other state through
// `changeRequested`, and the switch then shows whatever the model keeps.
T.Switch {
    id: control

    property bool value: false

    signal changeRequested(bool value)

    implicitWidth: 32
    implicitHeight: 18
    padding: 0
    checked: value
    focusPolicy: Qt.StrongFocus
    Accessible.role: Accessible.CheckBox
    Accessible.checkable: true
    Accessible.checked: checked
    Accessible.name: text
    Keys.onReturnPressed: { toggle(); toggled() }
    Keys.onEnterPressed: { toggle(); toggled() }

    onToggled: {
        const wanted = checked
        checked = Qt.binding(() => control.value)
        changeRequested(wanted)
    }

    indicator: Rectangle {
        implicitWidth: 32
        implicitHeight: 18
        radius: 9
        color: control.checked ? Theme.toggleGreen : Theme.progressTrack
        opacity: control.enabled ? 1 : 0.55
        Behavior on color { ColorAnimation { duration: 100 } }

        Rectangle {
            width: 14
            height: 14
            radius: 7
            y: 2
            x: control.checked ? parent.width - width - 2 : 2
            color: "white"
            border.width: 1
            border.color: Qt.rgba(0, 0, 0, 0.08)
            Behavior on x { NumberAnimation { duration: 100 } }
        }
        FocusRing { shown: control.visualFocus; cornerRadius: 9 }
    }
    contentItem: Item {}
}
