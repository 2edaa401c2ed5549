import QtQuick
import QtQuick.Layouts
import Norvela

// Where shared links are made: the dropdown, not here.
ColumnLayout {
    spacing: 16

    Card {
        objectName: "sharedLinksCard"
        spacing: 4

        TextLine {
            role: "cardTitle"
            text: "Shared links"
            Layout.fillWidth: true
        }
        TextLine {
            role: "caption"
            text: "Create and manage Dropbox shared links from the " + DesktopWords.menuBar
            wrapMode: Text.WordWrap
            Layout.fillWidth: true
        }
    }
}
