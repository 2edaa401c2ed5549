import QtQuick
import Norvela

// One of the app's symbols, by name ("pause.fill", "link", …).
Text {
    property string symbol
    property int size: 16

    text: Symbols.glyph(symbol)
    font.family: Symbols.family
    font.pixelSize: size
    color: Theme.textSecondary
    horizontalAlignment: Text.AlignHCenter
    verticalAlignment: Text.AlignVCenter
    Accessible.ignored: true
}
