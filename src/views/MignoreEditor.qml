import QtQuick
import QtQuick.Controls.Basic as Controls
import QtQuick.Layouts
import QtQuick.Templates as T
import Norvela

// The ignore patterns of one synced folder, for a sheet: each change is written to the
// folder's .mignore at once (there is nothing to save or cancel), and the footer counts what
// would still sync.
FocusScope {
    id: root

    required property AppModel app
    // The synced folder as the user knows it ("~/Norvela").
    property string folderPath

    signal dismissed()

    width: 460
    height: 440
    implicitWidth: 460
    implicitHeight: 440
    focus: true

    // Escape is the sheet's while focus is inside it, even where the host has an Escape shortcut.
    Keys.onShortcutOverride: (event) => event.accepted = event.key === Qt.Key_Escape
    Keys.onEscapePressed: root.dismissed()

    function submitField() {
        if (editorState.submit(patternField.text))
            patternField.clear()
    }

    // Scrolls the list so that a control focused by the keyboard is in view.
    function reveal(item) {
        const top = item.mapToItem(patternList.contentItem, 0, 0).y
        if (top < patternList.contentY)
            patternList.contentY = Math.max(0, top - 4)
        else if (top + item.height > patternList.contentY + patternList.height)
            patternList.contentY = top + item.height - patternList.height + 4
    }

    MignoreEditorState {
        id: editorState
        app: root.app
        folderPath: root.folderPath
        active: root.visible
    }

    component CloseButton: T.AbstractButton {
        id: closeControl

        implicitWidth: 22
        implicitHeight: 22
        focusPolicy: Qt.StrongFocus
        hoverEnabled: true
        Accessible.role: Accessible.Button
        Accessible.name: "Close"
        Keys.onReturnPressed: clicked()
        Keys.onEnterPressed: clicked()

        background: Rectangle {
            radius: 6
            color: closeControl.hovered || closeControl.down ? Theme.hoverFill : "transparent"
            Behavior on color { ColorAnimation { duration: 100 } }
            FocusRing { shown: closeControl.visualFocus; cornerRadius: 6 }
        }
        contentItem: Text {
            text: closeControl.text
            font.pixelSize: 13
            color: closeControl.down ? Theme.textPrimary : Theme.textSecondary
            horizontalAlignment: Text.AlignHCenter
            verticalAlignment: Text.AlignVCenter
        }
    }

    component LinkButton: T.AbstractButton {
        id: linkControl

        implicitWidth: linkLabel.implicitWidth
        implicitHeight: linkLabel.implicitHeight
        focusPolicy: Qt.StrongFocus
        hoverEnabled: true
        Accessible.role: Accessible.Link
        Accessible.name: text
        Keys.onReturnPressed: clicked()
        Keys.onEnterPressed: clicked()

        background: Item {
            FocusRing { shown: linkControl.visualFocus; cornerRadius: 2 }
        }
        contentItem: Text {
            id: linkLabel
            text: linkControl.text
            font.pixelSize: 11
            font.underline: linkControl.hovered
            color: Theme.accent
        }
    }

    Rectangle {
        anchors.fill: parent
        color: Theme.windowBackground
    }

    ColumnLayout {
        anchors.fill: parent
        anchors.margins: 20
        spacing: 12

        RowLayout {
            spacing: 12
            Layout.fillWidth: true

            ColumnLayout {
                spacing: 4
                Layout.fillWidth: true

                TextLine {
                    objectName: "editorTitle"
                    role: "windowTitle"
                    text: "Ignore patterns"
                    Layout.fillWidth: true
                }
                TextLine {
                    objectName: "editorSubtitle"
                    role: "caption"
                    text: editorState.subtitle
                    elide: Text.ElideMiddle
                    Layout.fillWidth: true
                }
            }
            CloseButton {
                objectName: "closeButton"
                text: "✕"
                Layout.alignment: Qt.AlignTop
                onClicked: root.dismissed()
            }
        }

        Rectangle {
            radius: 10
            color: Theme.cardBackground
            border.width: 1
            border.color: Theme.cardHairline
            Layout.fillWidth: true
            Layout.fillHeight: true

            Flickable {
                id: patternList

                objectName: "patternList"
                anchors.fill: parent
                anchors.margins: 1
                clip: true
                contentWidth: width
                contentHeight: listColumn.implicitHeight
                boundsBehavior: Flickable.StopAtBounds
                Controls.ScrollBar.vertical: Controls.ScrollBar {}

                Column {
                    id: listColumn

                    width: patternList.width
                    topPadding: 4
                    bottomPadding: 12

                    Repeater {
                        model: editorState.patterns

                        Item {
                            id: patternRow

                            required property var modelData
                            required property int index

                            objectName: "patternRow"
                            width: listColumn.width
                            height: 32

                            Hairline {
                                visible: patternRow.index > 0
                                anchors.top: parent.top
                                anchors.left: parent.left
                                anchors.right: parent.right
                                anchors.leftMargin: 14
                                anchors.rightMargin: 14
                            }
                            RowLayout {
                                anchors.fill: parent
                                anchors.leftMargin: 14
                                anchors.rightMargin: 10
                                spacing: 8

                                TextLine {
                                    objectName: "patternText"
                                    role: "body"
                                    text: patternRow.modelData.text
                                    Layout.fillWidth: true
                                }
                                TextLine {
                                    objectName: "patternCount"
                                    role: "caption"
                                    text: patternRow.modelData.countText
                                }
                                IconButton {
                                    objectName: "removeButton"
                                    symbol: "xmark"
                                    symbolSize: 14
                                    implicitWidth: 18
                                    implicitHeight: 18
                                    helpText: "Remove " + patternRow.modelData.text
                                    onClicked: editorState.removeLine(patternRow.modelData.line)
                                    onActiveFocusChanged: if (activeFocus) root.reveal(patternRow)
                                }
                            }
                        }
                    }

                    TextLine {
                        objectName: "emptyPatterns"
                        visible: editorState.patterns.length === 0
                        width: listColumn.width
                        topPadding: 10
                        bottomPadding: 4
                        leftPadding: 14
                        rightPadding: 14
                        role: "secondary"
                        color: Theme.textSecondary
                        text: "No patterns yet — add one below, or start from a common one."
                        wrapMode: Text.WordWrap
                    }

                    Flow {
                        id: commonPatterns

                        objectName: "commonPatterns"
                        visible: editorState.missingCommonPatterns.length > 0
                        width: listColumn.width
                        topPadding: 10
                        leftPadding: 14
                        rightPadding: 14
                        spacing: 6

                        Repeater {
                            model: editorState.missingCommonPatterns

                            PushButton {
                                id: commonButton

                                required property string modelData

                                objectName: "commonPatternButton"
                                text: "+ " + modelData
                                Accessible.name: "Add " + modelData
                                onClicked: editorState.add(modelData)
                                onActiveFocusChanged: if (activeFocus) root.reveal(commonButton)
                            }
                        }
                    }
                }
            }
        }

        RowLayout {
            spacing: 8
            Layout.fillWidth: true

            Controls.TextField {
                id: patternField

                objectName: "patternField"
                focus: true
                placeholderText: "Add a pattern — e.g. node_modules/ or *.log"
                placeholderTextColor: Theme.textSecondary
                color: Theme.textPrimary
                selectionColor: Theme.accent
                selectedTextColor: "white"
                font.pixelSize: 12
                selectByMouse: true
                topPadding: 4
                bottomPadding: 4
                leftPadding: 8
                background: Rectangle {
                    radius: 6
                    color: Theme.cardBackground
                    border.width: patternField.activeFocus ? 2 : 1
                    border.color: patternField.activeFocus ? Theme.accent : Theme.cardHairline
                }
                Accessible.name: "New pattern"
                Layout.fillWidth: true
                Layout.preferredHeight: 28
                onAccepted: root.submitField()
            }
            PushButton {
                objectName: "addButton"
                text: "Add"
                onClicked: root.submitField()
            }
        }

        RowLayout {
            spacing: 6
            Layout.fillWidth: true
            Layout.preferredHeight: 16

            Controls.BusyIndicator {
                objectName: "countingIndicator"
                visible: editorState.counting
                running: visible
                padding: 0
                implicitWidth: 14
                implicitHeight: 14
                palette.dark: Theme.textSecondary
                Accessible.name: "Counting files"
            }
            TextLine {
                objectName: "syncCountText"
                role: "caption"
                text: editorState.footerText
                Layout.fillWidth: true
            }
            LinkButton {
                objectName: "openAsTextButton"
                text: "Open as text"
                onClicked: editorState.openAsText()
            }
        }
    }
}
