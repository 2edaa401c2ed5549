import QtQuick
import QtQuick.Layouts
import Norvela

// The dropdown's content, top to bottom: the action banner, the status header, the recent
// uploads (per account when several are linked), shared links and the footer. Everything
// shown is read from `app`; requests for windows leave as signals.
FocusScope {
    id: view

    required property AppModel app
    // The tallest the content may be; the recent uploads scroll when the rest needs more.
    property real maximumHeight: Number.POSITIVE_INFINITY

    signal sharedLinksRequested()
    signal versionHistoryRequested(var file)
    signal preferencesRequested()
    signal quitRequested()

    readonly property var accounts: app.accounts
    readonly property real fixedHeight: top.implicitHeight + bottom.implicitHeight

    implicitWidth: 340
    implicitHeight: fixedHeight + recentArea.Layout.preferredHeight

    ColumnLayout {
        anchors.fill: parent
        spacing: 0

        ColumnLayout {
            id: top
            spacing: 0
            Layout.fillWidth: true

            RowLayout {
                objectName: "statusBanner"
                visible: view.app.actionStatus !== undefined
                spacing: 8
                Layout.fillWidth: true
                Layout.margins: 12
                Layout.topMargin: 10
                Layout.bottomMargin: 10
                SymbolIcon { symbol: "checkmark.circle.fill"; color: Theme.successGreen }
                TextLine {
                    objectName: "statusBannerText"
                    role: "secondary"
                    text: view.app.actionStatus ?? ""
                    Layout.fillWidth: true
                }
            }
            Hairline { visible: view.app.actionStatus !== undefined }
            StatusHeader {
                app: view.app
                Layout.fillWidth: true
                onPreferencesRequested: view.preferencesRequested()
            }
            Hairline {}
        }

        Flickable {
            id: recentArea
            objectName: "recentArea"
            clip: true
            contentHeight: recent.implicitHeight
            boundsBehavior: Flickable.StopAtBounds
            Layout.fillWidth: true
            Layout.preferredHeight: Math.min(recent.implicitHeight,
                                             Math.max(80, view.maximumHeight - view.fixedHeight))

            // Keeps the control the keyboard reached in sight.
            Connections {
                target: view.Window.window
                function onActiveFocusItemChanged() {
                    let item = view.Window.activeFocusItem
                    let inside = item
                    while (inside && inside !== recent)
                        inside = inside.parent
                    if (!inside)
                        return
                    const y = item.mapToItem(recent, 0, 0).y
                    if (y < recentArea.contentY)
                        recentArea.contentY = y
                    else if (y + item.height > recentArea.contentY + recentArea.height)
                        recentArea.contentY = y + item.height - recentArea.height
                }
            }

            ColumnLayout {
                id: recent
                width: recentArea.width
                spacing: 0

                RowLayout {
                    objectName: "recentHeader"
                    spacing: 8
                    Layout.fillWidth: true
                    Layout.leftMargin: 12
                    Layout.rightMargin: 8
                    Layout.topMargin: 8
                    Layout.preferredHeight: 24
                    TextLine {
                        role: "section"
                        text: "Recent"
                        Layout.fillWidth: true
                    }
                    IconButton {
                        objectName: "recentFolderButton"
                        visible: view.accounts.length === 1
                        symbol: "folder"
                        helpText: "Open sync folder in " + DesktopWords.fileManager
                        onClicked: view.app.openLocalFolder(view.accounts[0])
                    }
                }
                RecentList {
                    visible: view.accounts.length < 2
                    files: view.app.displayRecentFiles
                    linked: view.accounts.length > 0
                    Layout.fillWidth: true
                    Layout.leftMargin: 4
                    Layout.rightMargin: 4
                    Layout.bottomMargin: 4
                    onOpenRequested: (file) => view.app.openFile(file)
                    onShareRequested: (file) => view.app.shareFile(file)
                    onVersionHistoryRequested: (file) => view.versionHistoryRequested(file)
                }
                Repeater {
                    model: view.accounts.length >= 2 ? view.accounts : []
                    ColumnLayout {
                        id: accountSection
                        required property AccountModel modelData
                        spacing: 0
                        Layout.fillWidth: true
                        Layout.bottomMargin: 4

                        RowLayout {
                            objectName: "accountSubheader"
                            spacing: 8
                            Layout.fillWidth: true
                            Layout.leftMargin: 12
                            Layout.rightMargin: 8
                            Layout.preferredHeight: 28
                            TextLine {
                                objectName: "accountName"
                                role: "secondary"
                                font.weight: Font.DemiBold
                                text: accountSection.modelData.displayName
                                Layout.fillWidth: true
                            }
                            IconButton {
                                objectName: "accountFolderButton"
                                symbol: "folder"
                                helpText: "Open " + accountSection.modelData.displayName + " folder in "
                                          + DesktopWords.fileManager
                                onClicked: view.app.openLocalFolder(accountSection.modelData)
                            }
                        }
                        RecentList {
                            files: accountSection.modelData.recentFiles
                            linked: true
                            Layout.fillWidth: true
                            Layout.leftMargin: 4
                            Layout.rightMargin: 4
                            onOpenRequested: (file) => view.app.openFile(file)
                            onShareRequested: (file) => view.app.shareFile(file)
                            onVersionHistoryRequested: (file) => view.versionHistoryRequested(file)
                        }
                    }
                }
            }
        }

        ColumnLayout {
            id: bottom
            spacing: 0
            Layout.fillWidth: true

            Hairline {}
            ActionRow {
                objectName: "sharedLinksRow"
                symbol: "link"
                text: "Shared Links & Versions…"
                Layout.fillWidth: true
                Layout.margins: 4
                onClicked: view.sharedLinksRequested()
            }
            Hairline {}
            RowLayout {
                objectName: "footer"
                spacing: 4
                Layout.fillWidth: true
                Layout.margins: 12
                Layout.topMargin: 8
                Layout.bottomMargin: 8
                TextLine {
                    objectName: "footerLine"
                    role: "caption"
                    text: view.app.displayFooterLine
                    Layout.fillWidth: true
                }
                IconButton {
                    objectName: "feedbackButton"
                    symbol: "envelope"
                    helpText: "Send Feedback…"
                    onClicked: view.app.composeFeedback()
                }
                IconButton {
                    objectName: "preferencesButton"
                    symbol: "gearshape"
                    helpText: "Preferences…"
                    onClicked: view.preferencesRequested()
                }
                IconButton {
                    objectName: "quitButton"
                    symbol: "power"
                    helpText: "Quit Norvela"
                    onClicked: view.quitRequested()
                }
            }
        }
    }
}
