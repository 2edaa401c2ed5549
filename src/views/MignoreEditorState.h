#pragma once

#include "models/AppModel.h"
#include "sync/MignoreTally.h"

#include <QFuture>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QStringList>
#include <QVariant>
#include <QtQml/qqmlregistration.h>

#include <QCoro/QCoroTask>

#include <functional>
#include <memory>
#include <optional>

namespace norvela {

// The ignore-pattern editor: every line of a folder's `.mignore` (comments and blanks
// included), edited in place. Each edit is written at once and counted again in the
// background; only the count of the latest lines ever shows. When rendering statically it
// loads and counts as soon as it knows the folder, and starts no task.
class MignoreEditorState : public QObject {
    Q_OBJECT
    QML_ELEMENT
    Q_PROPERTY(norvela::AppModel* app READ app WRITE setApp NOTIFY appChanged)
    // The synced folder as the user knows it ("~/Norvela").
    Q_PROPERTY(QString folderPath READ folderPath WRITE setFolderPath NOTIFY folderPathChanged)
    // The editor is shown: becoming active loads the file and counts; inactive drops the count.
    Q_PROPERTY(bool active READ active WRITE setActive NOTIFY activeChanged)
    Q_PROPERTY(bool staticRender READ staticRender WRITE setStaticRender NOTIFY staticRenderChanged)
    Q_PROPERTY(QStringList lines READ lines NOTIFY linesChanged)
    // One map per pattern line, in file order: text (trimmed), line (index in lines), count
    // (files it keeps out; undefined until counted and for "!" lines) and countText ("12
    // files", or empty).
    Q_PROPERTY(QVariantList patterns READ patternList NOTIFY patternsChanged)
    // The common patterns not among the patterns yet, in their fixed order.
    Q_PROPERTY(QStringList missingCommonPatterns READ missingCommonPatterns NOTIFY linesChanged)
    // Files that would sync under the lines; undefined until the first count ends.
    Q_PROPERTY(QVariant syncCount READ syncCountVariant NOTIFY syncCountChanged)
    Q_PROPERTY(bool counting READ counting NOTIFY countingChanged)
    Q_PROPERTY(QString footerText READ footerText NOTIFY footerTextChanged)
    Q_PROPERTY(QString subtitle READ subtitle NOTIFY folderPathChanged)

public:
    // Counts files under the lines; runs on the thread pool.
    using Counter = std::function<MignoreTally(const QString& root, const QStringList& lines)>;

    explicit MignoreEditorState(QObject* parent = nullptr);

    AppModel* app() const { return m_app; }
    void setApp(AppModel* app);
    const QString& folderPath() const { return m_folderPath; }
    void setFolderPath(const QString& path);
    bool active() const { return m_active; }
    void setActive(bool active);
    bool staticRender() const { return m_staticRender; }
    // Starts as NORVELA_STATIC_RENDER says.
    void setStaticRender(bool value);

    const QStringList& lines() const { return m_lines; }
    // Positions in lines() of the lines that are neither blank nor comments.
    QList<qsizetype> patternLineIndices() const;
    QStringList patterns() const;
    QStringList missingCommonPatterns() const;
    const std::optional<qsizetype>& syncCount() const { return m_syncCount; }
    // Per line, the files it keeps out (MignoreTally::keptOut); empty while uncounted.
    const QList<qsizetype>& keptOut() const { return m_keptOut; }
    bool counting() const { return m_counting; }
    QString footerText() const;
    QString subtitle() const;
    // The folder's .mignore, "~" expanded; empty without a folder.
    QString filePath() const;

    static const QStringList& commonPatterns();
    // "1 file", "12,480 files".
    static QString fileCount(qsizetype count);
    // Replaces the counting function; tests hold a count back with it.
    void setCounter(Counter counter) { m_counter = std::move(counter); }

    // Reads the file; the starter text when there is none or it cannot be read (when
    // rendering statically, no lines). Writes nothing.
    Q_INVOKABLE void load();
    // Counts the current lines; a count already running is superseded.
    Q_INVOKABLE void recount();
    // Drops the running count's result.
    Q_INVOKABLE void cancelCount();
    // Appends `pattern` after the last non-empty line, unless it is a pattern already.
    Q_INVOKABLE void add(const QString& pattern);
    // The add field's text: trimmed and added. True when the field should be cleared.
    Q_INVOKABLE bool submit(const QString& text);
    // Removes the line at `index` (nothing when there is none).
    Q_INVOKABLE void removeLine(int index);
    // Writes the lines, each ended by a line feed, then counts them again.
    Q_INVOKABLE void save();
    // The file in the desktop's default application, written first when it does not exist.
    Q_INVOKABLE void openAsText();

Q_SIGNALS:
    void appChanged();
    void folderPathChanged();
    void activeChanged();
    void staticRenderChanged();
    void linesChanged();
    void patternsChanged();
    void syncCountChanged();
    void countingChanged();
    void footerTextChanged();

private:
    struct Writer;

    QString rootPath() const;
    QVariantList patternList() const;
    QVariant syncCountVariant() const { return m_syncCount ? QVariant(qlonglong(*m_syncCount)) : QVariant(); }
    void setLines(const QStringList& lines);
    void setCounting(bool value);
    void applyTally(const MignoreTally& tally);
    void refresh();
    QFuture<void> write();
    QCoro::Task<> runCounts();
    QCoro::Task<> openAsTextTask();

    QPointer<AppModel> m_app;
    QString m_folderPath;
    bool m_active = false;
    bool m_staticRender = false;
    QStringList m_lines;
    std::optional<qsizetype> m_syncCount;
    QList<qsizetype> m_keptOut;
    bool m_counting = false;
    // A count is wanted for the lines as they are now; the running one (if any) is stale.
    bool m_countWanted = false;
    bool m_countRunning = false;
    Counter m_counter = &MignoreTally::count;
    // Shared with the writes in flight, which outlive the editor.
    std::shared_ptr<Writer> m_writer;
    quint64 m_writes = 0;
};

} // namespace norvela
