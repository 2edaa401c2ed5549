import QtQuick

// The 8 × 8 state dot of a status header.
Rectangle {
    implicitWidth: 8
    implicitHeight: 8
    radius: 4
}
