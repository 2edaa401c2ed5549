import QtQuick
import QtQuick.Layouts
import Norvela

// Asks before a folder the size guard stopped starts uploading after all.
Sheet {
    id: dialog

    property AccountModel account: null

    width: 380

    onOpened: approveButton.forceActiveFocus()

    contentItem: ColumnLayout {
        objectName: "largeFolderDialog"
        spacing: 8

        TextLine {
            objectName: "largeFolderTitle"
            role: "cardTitle"
            text: "Sync this folder anyway?"
            Layout.fillWidth: true
        }
        TextLine {
            objectName: "largeFolderMessage"
            role: "secondary"
            text: "Everything in " + (dialog.account ? dialog.account.folderPath : "this folder")
                  + " will upload to " + (dialog.account ? dialog.account.displayName : "the cloud")
                  + ". A folder this size can take a long time and use significant storage."
            wrapMode: Text.WordWrap
            Layout.fillWidth: true
        }
        RowLayout {
            spacing: 8
            Layout.topMargin: 12
            Layout.alignment: Qt.AlignRight

            PushButton {
                objectName: "largeFolderCancel"
                text: "Cancel"
                onClicked: dialog.close()
            }
            PushButton {
                id: approveButton
                objectName: "largeFolderApprove"
                text: "Sync Anyway"
                isDefault: true
                onClicked: {
                    if (dialog.account)
                        dialog.account.approveLargeFolder()
                    dialog.close()
                }
            }
        }
    }
}
