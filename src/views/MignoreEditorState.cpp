#include "MignoreEditorState.h"

#include "SyncedFilesState.h"
#include "common/AtomicFile.h"
#include "models/Assign.h"
#include "models/Paths.h"
#include "platform/SystemLog.h"
#include "sync/MignoreRules.h"

#include <QFileInfo>
#include <QLocale>
#include <QMutex>
#include <QtConcurrent/QtConcurrentRun>

#include <QCoro/QCoroFuture>

#include <utility>

namespace norvela {

namespace {

// Blanks as the rules see them: tabs and every space separator.
QString trimmedBlanks(const QString& line) {
    const auto blank = [](QChar c) { return c == u'\t' || c.category() == QChar::Separator_Space; };
    qsizetype begin = 0, end = line.size();
    while (begin < end && blank(line[begin]))
        ++begin;
    while (end > begin && blank(line[end - 1]))
        --end;
    return line.sliced(begin, end - begin);
}

// A final line feed ends the last line rather than starting an empty one, so saving what was
// loaded gives the same file; a CR LF pair is one break here.
QStringList linesOf(QString text) {
    if (text.isEmpty())
        return {};
    text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    QStringList lines = MignoreRules::splitLines(text);
    if (lines.size() > 1 && lines.last().isEmpty())
        lines.removeLast();
    return lines;
}

} // namespace

// Writes land in the order they were asked for, whichever thread gets to them first.
struct MignoreEditorState::Writer {
    QMutex mutex;
    quint64 written = 0;
    bool failureLogged = false;

    void write(quint64 sequence, const QString& path, const QByteArray& data) {
        QMutexLocker lock(&mutex);
        if (sequence < written) // a later edit is on disk already
            return;
        written = sequence;
        QString error;
        if (!AtomicFile::write(path, data, 0644, AtomicFile::Durability::Synced, &error) &&
            !std::exchange(failureLogged, true))
            systemLog(QStringLiteral("Couldn't save %1: %2").arg(path, error));
    }
};

MignoreEditorState::MignoreEditorState(QObject* parent)
    : QObject(parent), m_staticRender(SyncedFilesState::staticRenderRequested()),
      m_writer(std::make_shared<Writer>()) {
    connect(this, &MignoreEditorState::countingChanged, this, &MignoreEditorState::footerTextChanged);
    connect(this, &MignoreEditorState::syncCountChanged, this, &MignoreEditorState::footerTextChanged);
}

const QStringList& MignoreEditorState::commonPatterns() {
    static const QStringList patterns{QStringLiteral("node_modules/"), QStringLiteral("build/"),
                                      QStringLiteral("dist/"), QStringLiteral("*.log"),
                                      QStringLiteral("*.tmp")};
    return patterns;
}

QString MignoreEditorState::fileCount(qsizetype count) {
    // Numbers read as the rest of the app writes them.
    return QLocale(QLocale::English, QLocale::UnitedStates).toString(qlonglong(count)) +
           (count == 1 ? QStringLiteral(" file") : QStringLiteral(" files"));
}

void MignoreEditorState::setApp(AppModel* app) {
    assignChanged(this, m_app, app, &MignoreEditorState::appChanged);
}

void MignoreEditorState::setFolderPath(const QString& path) {
    if (m_folderPath == path)
        return;
    m_folderPath = path;
    Q_EMIT folderPathChanged();
    refresh();
}

void MignoreEditorState::setActive(bool active) {
    if (m_active == active)
        return;
    m_active = active;
    Q_EMIT activeChanged();
    if (m_active)
        refresh();
    else
        cancelCount();
}

void MignoreEditorState::setStaticRender(bool value) {
    if (m_staticRender == value)
        return;
    m_staticRender = value;
    Q_EMIT staticRenderChanged();
    refresh();
}

// The file is the truth: read it again whenever the editor is shown or shows another folder.
void MignoreEditorState::refresh() {
    if (rootPath().isEmpty() || (!m_active && !m_staticRender))
        return;
    load();
    recount();
}

QString MignoreEditorState::rootPath() const {
    return m_folderPath.isEmpty() ? QString() : Paths::expandTilde(m_folderPath);
}

QString MignoreEditorState::filePath() const {
    const QString root = rootPath();
    return root.isEmpty() ? QString() : root + QStringLiteral("/.mignore");
}

QString MignoreEditorState::subtitle() const {
    return QStringLiteral("Matching files in ") + m_folderPath +
           QString::fromUtf8(" won't sync \u00b7 hidden files never sync");
}

QList<qsizetype> MignoreEditorState::patternLineIndices() const {
    QList<qsizetype> indices;
    for (qsizetype i = 0; i < m_lines.size(); ++i) {
        const QString line = trimmedBlanks(m_lines[i]);
        if (!line.isEmpty() && !line.startsWith(u'#'))
            indices.append(i);
    }
    return indices;
}

QStringList MignoreEditorState::patterns() const {
    QStringList found;
    for (const qsizetype i : patternLineIndices())
        found.append(trimmedBlanks(m_lines[i]));
    return found;
}

QStringList MignoreEditorState::missingCommonPatterns() const {
    const QStringList present = patterns();
    QStringList missing;
    for (const QString& pattern : commonPatterns())
        if (!present.contains(pattern))
            missing.append(pattern);
    return missing;
}

QVariantList MignoreEditorState::patternList() const {
    const bool counted = m_keptOut.size() == m_lines.size();
    QVariantList list;
    for (const qsizetype i : patternLineIndices()) {
        const qsizetype count = counted ? m_keptOut[i] : -1;
        list.append(QVariantMap{
            {QStringLiteral("text"), trimmedBlanks(m_lines[i])},
            {QStringLiteral("line"), int(i)},
            {QStringLiteral("count"), count >= 0 ? QVariant(qlonglong(count)) : QVariant()},
            {QStringLiteral("countText"), count >= 0 ? fileCount(count) : QString()},
        });
    }
    return list;
}

QString MignoreEditorState::footerText() const {
    if (m_counting)
        return QString::fromUtf8("Counting files\u2026");
    if (m_syncCount)
        return fileCount(*m_syncCount) + QStringLiteral(" will sync with these rules");
    return {};
}

void MignoreEditorState::load() {
    const QString root = rootPath();
    if (root.isEmpty())
        return;
    const auto read = MignoreRules::readFile(root);
    const auto* text = std::get_if<std::optional<QString>>(&read);
    if (text && *text)
        setLines(linesOf(**text));
    else
        setLines(m_staticRender ? QStringList() : MignoreRules::splitLines(MignoreRules::starterText()));
}

void MignoreEditorState::setLines(const QStringList& lines) {
    m_lines = lines;
    m_keptOut.clear();
    Q_EMIT linesChanged();
    Q_EMIT patternsChanged();
}

void MignoreEditorState::add(const QString& pattern) {
    if (patterns().contains(pattern))
        return;
    QStringList lines = m_lines;
    while (!lines.isEmpty() && lines.last().isEmpty())
        lines.removeLast();
    lines.append(pattern);
    setLines(lines);
    save();
}

bool MignoreEditorState::submit(const QString& text) {
    const QString pattern = trimmedBlanks(text);
    if (pattern.isEmpty())
        return false;
    add(pattern);
    return true;
}

void MignoreEditorState::removeLine(int index) {
    if (index < 0 || index >= m_lines.size())
        return;
    QStringList lines = m_lines;
    lines.removeAt(index);
    setLines(lines);
    save();
}

void MignoreEditorState::save() {
    (void)write();
    recount();
}

QFuture<void> MignoreEditorState::write() {
    const QString path = filePath();
    if (path.isEmpty())
        return QtFuture::makeReadyFuture();
    auto job = [writer = m_writer, sequence = ++m_writes, path,
                data = (m_lines.join(u'\n') + u'\n').toUtf8()] { writer->write(sequence, path, data); };
    if (m_staticRender) {
        job();
        return QtFuture::makeReadyFuture();
    }
    return QtConcurrent::run(std::move(job));
}

void MignoreEditorState::recount() {
    const QString root = rootPath();
    if (root.isEmpty())
        return;
    if (m_staticRender) {
        applyTally(m_counter(root, m_lines));
        return;
    }
    m_countWanted = true;
    setCounting(true);
    if (!m_countRunning)
        runCounts();
}

void MignoreEditorState::cancelCount() {
    m_countWanted = false;
    setCounting(false);
}

// One scan at a time: edits made while one runs are counted together once it ends.
QCoro::Task<> MignoreEditorState::runCounts() {
    QPointer<MignoreEditorState> self(this);
    m_countRunning = true;
    while (m_countWanted) {
        m_countWanted = false;
        // Made before the co_await: temporaries inside a co_await expression are destroyed
        // twice by this compiler.
        QFuture<MignoreTally> counted = QtConcurrent::run(
            [count = m_counter, root = rootPath(), lines = m_lines] { return count(root, lines); });
        const MignoreTally tally = co_await counted;
        if (!self)
            co_return;
        // Not asked for again since it started, and not cancelled: it counts what is shown.
        if (!m_countWanted && m_counting)
            applyTally(tally);
    }
    m_countRunning = false;
}

void MignoreEditorState::applyTally(const MignoreTally& tally) {
    m_syncCount = tally.syncing;
    m_keptOut = tally.keptOut;
    Q_EMIT syncCountChanged();
    Q_EMIT patternsChanged();
    setCounting(false);
}

void MignoreEditorState::setCounting(bool value) {
    assignChanged(this, m_counting, value, &MignoreEditorState::countingChanged);
}

void MignoreEditorState::openAsText() {
    openAsTextTask();
}

QCoro::Task<> MignoreEditorState::openAsTextTask() {
    const QString path = filePath();
    if (path.isEmpty())
        co_return;
    QPointer<MignoreEditorState> self(this);
    if (!QFileInfo::exists(path)) {
        QFuture<void> writing = write();
        recount();
        co_await writing;
        if (!self)
            co_return;
    }
    if (m_app)
        m_app->openPath(path);
}

} // namespace norvela
