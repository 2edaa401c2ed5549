import QtQuick
import QtQuick.Window
import Norvela

// The tray's dropdown panel: a frameless window hanging from the tray icon that hides when
// it loses the focus or on Escape. The app's window presenter places, shows and reuses it.
Window {
    id: panel

    required property AppModel app
    // The available height of the screen the panel opens on; it takes at most 80 % of it.
    property int availableHeight: Screen.desktopAvailableHeight

    signal sharedLinksRequested()
    signal versionHistoryRequested(var file)
    signal preferencesRequested()
    signal quitRequested()

    // A stable title, so that compositor rules can find the panel.
    title: "Norvela"
    flags: Qt.Dialog | Qt.FramelessWindowHint
    color: "transparent"
    width: 340
    height: Math.ceil(view.implicitHeight) + 2
    onActiveChanged: if (!active) hide()

    Rectangle {
        anchors.fill: parent
        radius: 12
        color: Theme.panelBackground
        border.width: 1
        border.color: Theme.hairline

        DropdownView {
            id: view
            anchors.fill: parent
            anchors.margins: 1
            focus: true
            app: panel.app
            maximumHeight: Math.floor(panel.availableHeight * 0.8) - 2
            Keys.onEscapePressed: panel.hide()
            onSharedLinksRequested: panel.sharedLinksRequested()
            onVersionHistoryRequested: (file) => panel.versionHistoryRequested(file)
            onPreferencesRequested: panel.preferencesRequested()
            onQuitRequested: panel.quitRequested()
        }
    }
}
