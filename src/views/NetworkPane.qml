import QtQuick
import QtQuick.Controls.Basic as Controls
import QtQuick.Layouts
import Norvela

// The upload limit, the hours uploads may run in, and waiting for mains power.
ColumnLayout {
    id: pane

    required property AppModel app
    readonly property bool limited: app.uploadLimitMBps > 0
    readonly property var hours: Array.from({ length: 24 }, (_, h) => (h < 10 ? "0" : "") + h + ":00")

    spacing: 16

    // The rate as the user's locale writes numbers, without trailing zeros.
    function formatRate(value) {
        return Number(value).toLocaleString(Qt.locale(), "g", 6)
    }

    Card {
        spacing: 12

        SwitchRow {
            switchName: "limitSwitch"
            title: "Limit upload speed"
            explanation: "Keep Norvela from saturating your connection"
            value: pane.limited
            onChangeRequested: (on) => pane.app.uploadLimitMBps =
                on ? (pane.app.uploadLimitMBps <= 1 ? 1 : pane.app.uploadLimitMBps) : 0
        }

        ColumnLayout {
            visible: pane.limited
            spacing: 4
            Layout.fillWidth: true

            RowLayout {
                spacing: 8
                Layout.fillWidth: true

                TextLine {
                    role: "body"
                    text: "Maximum upload rate"
                    Layout.fillWidth: true
                }
                Controls.TextField {
                    id: rateField

                    property bool refused: false

                    objectName: "rateField"
                    implicitWidth: 64
                    Layout.preferredWidth: 64
                    Layout.preferredHeight: 24
                    text: pane.formatRate(pane.app.uploadLimitMBps)
                    horizontalAlignment: TextInput.AlignRight
                    inputMethodHints: Qt.ImhFormattedNumbersOnly
                    color: Theme.textPrimary
                    selectionColor: Theme.accent
                    selectedTextColor: "white"
                    font.pixelSize: 12
                    selectByMouse: true
                    topPadding: 2
                    bottomPadding: 2
                    leftPadding: 6
                    rightPadding: 6
                    Accessible.name: "Maximum upload rate in megabytes per second"
                    Accessible.description: refused ? rateHint.text : ""
                    background: Rectangle {
                        radius: 6
                        color: Theme.cardBackground
                        border.width: rateField.activeFocus || rateField.refused ? 2 : 1
                        border.color: rateField.refused ? rateHint.color
                                    : rateField.activeFocus ? Theme.accent : Theme.cardHairline
                    }

                    // Return or leaving the field applies what it holds, if it is a rate.
                    onEditingFinished: apply()
                    onTextEdited: refused = false

                    function apply() {
                        let value = NaN
                        try {
                            value = Number.fromLocaleString(Qt.locale(), text.trim())
                        } catch (error) {
                            value = NaN
                        }
                        refused = !isFinite(value) || value < 0
                        if (refused)
                            return
                        pane.app.uploadLimitMBps = value
                        text = Qt.binding(() => pane.formatRate(pane.app.uploadLimitMBps))
                    }
                }
                TextLine {
                    role: "body"
                    text: "MB/s"
                }
            }
            TextLine {
                id: rateHint
                objectName: "rateHint"
                visible: rateField.refused
                role: "caption"
                color: Theme.dark ? "#ff6961" : "#c4161c"
                text: "Enter a rate of 0 or more, like " + Number(2.5).toLocaleString(Qt.locale(), "f", 1)
                horizontalAlignment: Text.AlignRight
                Layout.fillWidth: true
            }
        }
    }

    Card {
        spacing: 12

        SwitchRow {
            switchName: "scheduleSwitch"
            title: "Sync on a schedule"
            explanation: "Only upload during set hours — Norvela holds changes and catches up automatically"
            value: pane.app.scheduleEnabled
            onChangeRequested: (on) => pane.app.scheduleEnabled = on
        }
        RowLayout {
            visible: pane.app.scheduleEnabled
            spacing: 8
            Layout.fillWidth: true

            TextLine {
                role: "body"
                text: "Sync between"
                Layout.fillWidth: true
            }
            ChoiceButton {
                objectName: "startHourPicker"
                Accessible.name: "Start of the sync hours"
                model: pane.hours
                value: pane.app.scheduleStartHour
                onChangeRequested: (hour) => pane.app.scheduleStartHour = hour
            }
            TextLine {
                role: "body"
                text: "and"
            }
            ChoiceButton {
                objectName: "endHourPicker"
                Accessible.name: "End of the sync hours"
                model: pane.hours
                value: pane.app.scheduleEndHour
                onChangeRequested: (hour) => pane.app.scheduleEndHour = hour
            }
        }
        Hairline { color: Theme.cardHairline }
        SwitchRow {
            switchName: "batterySwitch"
            title: "Pause while on battery"
            value: pane.app.pauseOnBattery
            onChangeRequested: (on) => pane.app.pauseOnBattery = on
        }
    }
}
