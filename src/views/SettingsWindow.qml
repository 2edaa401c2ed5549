import QtQuick
import QtQuick.Controls.Basic as Controls
import QtQuick.Dialogs
import QtQuick.Layouts
import Norvela

// The preferences: six panes in a sidebar, the chosen one on the right under its title.
// Every control writes the model property that owns its setting. Each time the window is
// shown it opens on "Sync", with no sheet open; Escape closes the sheet on top, else the window.
Window {
    id: root

    required property AppModel app
    property string selectedTab: "sync"
    readonly property var tabs: [
        { key: "general", title: "General", symbol: "clock" },
        { key: "account", title: "Account", symbol: "person.crop.circle" },
        { key: "sync", title: "Sync", symbol: "arrow.triangle.2.circlepath" },
        { key: "network", title: "Network", symbol: "chart.bar" },
        { key: "sharing", title: "Sharing", symbol: "link" },
        { key: "advanced", title: "Advanced", symbol: "terminal" }
    ]
    readonly property string selectedTitle: tabs.find(tab => tab.key === selectedTab)?.title ?? ""

    // "Add Account…": the app shows onboarding.
    signal onboardingRequested()

    title: "Norvela Preferences"
    flags: Qt.Dialog
    width: 740
    height: 520
    minimumWidth: width
    maximumWidth: width
    minimumHeight: height
    maximumHeight: height
    color: Theme.windowBackground

    onVisibleChanged: {
        if (visible) {
            selectedTab = "sync"
            preferences.recountRules()
        } else {
            ignoreSheet.close()
        }
    }

    // The folder chooser of an account, or of the app while none is linked (account null):
    // the desktop's own, else Qt's.
    function chooseFolder(account, path) {
        preferences.chooseFolder(account, path, root)
    }
    function editIgnorePatterns(path) {
        ignoreSheet.folderPath = path
        ignoreSheet.open()
    }
    // Keeps the control the keyboard reached in view.
    function reveal(item) {
        let inside = item
        while (inside && inside !== paneScroller.contentItem)
            inside = inside.parent
        if (!inside)
            return
        const top = item.mapToItem(paneScroller.contentItem, 0, 0).y
        if (top < paneScroller.contentY)
            paneScroller.contentY = Math.max(0, top - 8)
        else if (top + item.height > paneScroller.contentY + paneScroller.height)
            paneScroller.contentY = Math.min(paneScroller.contentHeight - paneScroller.height,
                                             top + item.height - paneScroller.height + 8)
    }
    onActiveFocusItemChanged: if (activeFocusItem) reveal(activeFocusItem)

    PreferencesState {
        id: preferences
        app: root.app
        onOwnChooserNeeded: (account, start) => {
            folderDialog.account = account
            folderDialog.currentFolder = start
            folderDialog.open()
        }
    }

    FolderDialog {
        id: folderDialog

        property AccountModel account: null

        objectName: "folderDialog"
        title: "Choose the folder to sync"
        onAccepted: preferences.adoptFolder(selectedFolder, account)
    }

    Sheet {
        id: ignoreSheet

        property string folderPath

        objectName: "ignoreSheet"
        padding: 0
        onClosed: preferences.recountRules()

        MignoreEditor {
            objectName: "ignoreEditor"
            app: root.app
            folderPath: ignoreSheet.folderPath
            onDismissed: ignoreSheet.close()
        }
    }

    FocusScope {
        anchors.fill: parent
        focus: true
        Keys.onEscapePressed: root.close()

        Rectangle {
            id: sidebar

            width: 196
            height: parent.height
            color: Theme.sidebarBackground

            Column {
                anchors.fill: parent
                anchors.margins: 10
                anchors.topMargin: 20
                spacing: 2

                Repeater {
                    model: root.tabs

                    SidebarItem {
                        required property var modelData
                        objectName: modelData.key + "Tab"
                        width: parent.width
                        text: modelData.title
                        symbol: modelData.symbol
                        selected: root.selectedTab === modelData.key
                        focus: selected
                        onClicked: root.selectedTab = modelData.key
                    }
                }
            }
        }
        Rectangle {
            x: sidebar.width
            width: 1
            height: parent.height
            color: Theme.hairline
        }

        ColumnLayout {
            x: sidebar.width + 1
            width: parent.width - x
            height: parent.height
            spacing: 12

            TextLine {
                objectName: "paneTitle"
                role: "paneTitle"
                text: root.selectedTitle
                Layout.fillWidth: true
                Layout.topMargin: 20
                Layout.leftMargin: 20
                Layout.rightMargin: 20
            }

            Flickable {
                id: paneScroller

                objectName: "paneScroller"
                clip: true
                contentWidth: width
                contentHeight: paneLoader.height + 20
                boundsBehavior: Flickable.StopAtBounds
                Layout.fillWidth: true
                Layout.fillHeight: true
                Controls.ScrollBar.vertical: Controls.ScrollBar {
                    policy: paneScroller.contentHeight > paneScroller.height ? Controls.ScrollBar.AlwaysOn
                                                                             : Controls.ScrollBar.AlwaysOff
                }

                Loader {
                    id: paneLoader

                    x: 20
                    width: paneScroller.width - 40
                    height: item ? item.implicitHeight : 0
                    active: root.visible
                    sourceComponent: ({ general: generalPane, account: accountPane, sync: syncPane,
                                        network: networkPane, sharing: sharingPane,
                                        advanced: advancedPane })[root.selectedTab]
                    onLoaded: paneScroller.contentY = 0
                }
            }
        }
    }

    Component {
        id: generalPane
        GeneralPane { app: root.app }
    }
    Component {
        id: accountPane
        AccountPane {
            app: root.app
            onChooseFolder: (account) => root.chooseFolder(account, account.folderPath)
            onEditIgnorePatterns: (path) => root.editIgnorePatterns(path)
            onAddAccount: root.onboardingRequested()
        }
    }
    Component {
        id: syncPane
        SyncPane {
            app: root.app
            ignoreFolders: preferences.ignoreFolders
            onChooseFolder: (account, path) => root.chooseFolder(account, path)
            onEditIgnorePatterns: (path) => root.editIgnorePatterns(path)
        }
    }
    Component {
        id: networkPane
        NetworkPane { app: root.app }
    }
    Component {
        id: sharingPane
        SharingPane {}
    }
    Component {
        id: advancedPane
        AdvancedPane { app: root.app }
    }
}
