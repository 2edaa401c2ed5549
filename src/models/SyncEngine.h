#pragma once

#include <QObject>

namespace norvela {

class AppModel;

// An application-wide engine: runs while no account is linked and reports through the
// application model's own status fields. Destroying it stops all of its work.
class SyncEngine : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;
    // Keeps `model` weakly.
    virtual void start(AppModel* model) = 0;
    virtual void pause() = 0;
    virtual void resume() = 0;
};

} // namespace norvela
