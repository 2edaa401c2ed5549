#pragma once

#include <QObject>
#include <QString>

namespace norvela {

struct CloudUploadResult;
class SyncIndex;

// What an account model asks of its upload engine. The engine lives above the models (it
// writes into them), so the models know it only through this seam. Destroying the engine
// stops its watcher and its worker.
class AccountSyncEngine : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;
    // (Re)starts watching and uploading the account's folder.
    virtual void start() = 0;
    // Holds uploads; the folder is still watched and the queue still fills.
    virtual void pause() = 0;
    virtual void resume() = 0;
    // A restore made `result` current for `relativePath`: record it without uploading.
    virtual void noteRestored(const QString& relativePath, const CloudUploadResult& result,
                              const QString& filePath) = 0;
    // What the engine has recorded as uploaded; null while it is still being loaded.
    virtual const SyncIndex* loadedIndex() const = 0;
};

} // namespace norvela
