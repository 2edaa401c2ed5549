import QtQuick
import Norvela

// A rounded track with a fill of `value` (0…1) of its width; the fill glides to a new value.
Rectangle {
    id: track

    property real value: 0

    implicitHeight: 6
    radius: 3
    color: Theme.progressTrack
    Accessible.role: Accessible.ProgressBar
    Accessible.name: Math.round(value * 100) + "%"

    Rectangle {
        height: parent.height
        radius: 3
        color: Theme.accent
        width: Math.max(0, Math.min(1, track.value)) * track.width
        Behavior on width { NumberAnimation { duration: 200; easing.type: Easing.OutCubic } }
    }
}
