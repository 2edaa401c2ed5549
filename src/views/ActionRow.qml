import QtQuick
import QtQuick.Layouts
import Norvela

// A row of the dropdown that opens something: a symbol and a title.
RowButton {
    id: row

    property string symbol

    implicitHeight: 32
    topPadding: 0
    bottomPadding: 0
    leftPadding: 8
    rightPadding: 8
    Accessible.name: text

    contentItem: RowLayout {
        spacing: 8
        SymbolIcon { symbol: row.symbol; size: 16 }
        TextLine {
            role: "body"
            text: row.text
            Layout.fillWidth: true
        }
    }
}
