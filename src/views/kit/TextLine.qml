import QtQuick
import Norvela

// Text in one of the kit's type roles; one line, eliding at the right, unless told otherwise.
Text {
    // "heading" 17, "paneTitle" 15, "windowTitle" 14, "body" 13, "cardTitle" 13,
    // "secondary" 12, "caption" 11, "section" 10.
    property string role: "body"

    readonly property var sizes: ({ heading: 17, paneTitle: 15, windowTitle: 14, body: 13, cardTitle: 13,
                                    secondary: 12, caption: 11, section: 10 })
    font.pixelSize: sizes[role] ?? 13
    font.weight: role === "heading" || role === "paneTitle" || role === "cardTitle" || role === "section"
                 ? Font.DemiBold : role === "windowTitle" ? Font.Bold : Font.Normal
    font.capitalization: role === "section" ? Font.AllUppercase : Font.MixedCase
    font.letterSpacing: role === "section" ? 0.6 : 0
    color: role === "caption" || role === "section" ? Theme.textSecondary : Theme.textPrimary
    elide: Text.ElideRight
    maximumLineCount: wrapMode === Text.NoWrap ? 1 : 1000
    textFormat: Text.PlainText
    Accessible.role: Accessible.StaticText
    Accessible.name: text
}
