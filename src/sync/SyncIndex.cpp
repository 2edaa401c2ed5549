#include "SyncIndex.h"

#include "common/AppSupport.h"
#include "common/AtomicFile.h"

#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonValue>
#include <QMutex>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstring>
#include <utility>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace norvela {

namespace {

// 2001-01-01T00:00:00Z in milliseconds since the Unix epoch: dates in the file count from here.
constexpr qint64 referenceMSecs = 978307200000;
// About 31 million years either way; larger values are treated as damage rather than dates.
constexpr double maxAbsSeconds = 1e12;

QDateTime toUtc(const QDateTime& date) {
    return date.isValid() && date.timeSpec() != Qt::UTC ? date.toUTC() : date;
}

// Appends into a buffer sized ahead of each entry, so the hot loop writes bytes without
// per-character capacity checks: a load or an encode() goes through every entry.
class Writer {
public:
    explicit Writer(qsizetype capacity) {
        m_buffer.resize(capacity);
        m_cursor = m_buffer.data();
    }

    void reserve(qsizetype bytes) {
        const qsizetype used = m_cursor - m_buffer.data();
        if (m_buffer.size() - used >= bytes)
            return;
        m_buffer.resize(std::max(m_buffer.size() * 2, used + bytes));
        m_cursor = m_buffer.data() + used;
    }

    void put(char c) { *m_cursor++ = c; }

    template <std::size_t N> void put(const char (&text)[N]) {
        std::memcpy(m_cursor, text, N - 1);
        m_cursor += N - 1;
    }

    void integer(qint64 value) { m_cursor = std::to_chars(m_cursor, m_cursor + 24, value).ptr; }

    // Exact decimal of the millisecond count, trailing zeros dropped: 1.5, -0.001, 0.
    // The file cannot express "no date"; an invalid date is written as the reference date.
    void date(const QDateTime& value) {
        const qint64 msecs = value.isValid() ? value.toMSecsSinceEpoch() - referenceMSecs : 0;
        quint64 magnitude = static_cast<quint64>(msecs);
        if (msecs < 0) {
            put('-');
            magnitude = 0 - magnitude;
        }
        m_cursor = std::to_chars(m_cursor, m_cursor + 24, magnitude / 1000).ptr;
        unsigned fraction = static_cast<unsigned>(magnitude % 1000);
        if (fraction == 0)
            return;
        put('.');
        put(static_cast<char>('0' + fraction / 100));
        fraction %= 100;
        if (fraction == 0)
            return;
        put(static_cast<char>('0' + fraction / 10));
        fraction %= 10;
        if (fraction != 0)
            put(static_cast<char>('0' + fraction));
    }

    // Needs reserve(stringBound(text)) first. Works on a local cursor: stores through a
    // char pointer may alias the member, which would force a reload after every byte.
    void string(QStringView text) {
        static constexpr char hex[] = "0123456789abcdef";
        char* out = m_cursor;
        *out++ = '"';
        const char16_t* units = text.utf16();
        const qsizetype count = text.size();
        for (qsizetype i = 0; i < count; ++i) {
#if defined(__SSE2__)
            // Paths and hashes are mostly printable ASCII: copy such runs 8 units at a time.
            while (i + 8 <= count) {
                const __m128i block = _mm_loadu_si128(reinterpret_cast<const __m128i*>(units + i));
                // Signed compares: units from 0x8000 up are negative and fail the first test.
                const __m128i printable = _mm_and_si128(_mm_cmpgt_epi16(block, _mm_set1_epi16(0x1f)),
                                                        _mm_cmplt_epi16(block, _mm_set1_epi16(0x80)));
                const __m128i special = _mm_or_si128(_mm_cmpeq_epi16(block, _mm_set1_epi16('"')),
                                                     _mm_cmpeq_epi16(block, _mm_set1_epi16('\\')));
                if (_mm_movemask_epi8(_mm_andnot_si128(special, printable)) != 0xffff)
                    break;
                _mm_storel_epi64(reinterpret_cast<__m128i*>(out), _mm_packus_epi16(block, block));
                out += 8;
                i += 8;
            }
            if (i == count)
                break;
#endif
            char32_t c = units[i];
            if (c < 0x80) {
                if (c >= 0x20 && c != '"' && c != '\\') {
                    *out++ = static_cast<char>(c);
                    continue;
                }
                *out++ = '\\';
                switch (c) {
                case '"':
                    *out++ = '"';
                    break;
                case '\\':
                    *out++ = '\\';
                    break;
                case '\n':
                    *out++ = 'n';
                    break;
                case '\r':
                    *out++ = 'r';
                    break;
                case '\t':
                    *out++ = 't';
                    break;
                case '\b':
                    *out++ = 'b';
                    break;
                case '\f':
                    *out++ = 'f';
                    break;
                default:
                    *out++ = 'u';
                    *out++ = '0';
                    *out++ = '0';
                    *out++ = hex[c >> 4];
                    *out++ = hex[c & 0xf];
                }
                continue;
            }
            if (c < 0x800) {
                *out++ = static_cast<char>(0xc0 | (c >> 6));
                *out++ = static_cast<char>(0x80 | (c & 0x3f));
                continue;
            }
            if (QChar::isSurrogate(c)) {
                if (QChar::isHighSurrogate(c) && i + 1 < count && QChar::isLowSurrogate(units[i + 1])) {
                    c = QChar::surrogateToUcs4(static_cast<char16_t>(c), units[++i]);
                    *out++ = static_cast<char>(0xf0 | (c >> 18));
                    *out++ = static_cast<char>(0x80 | ((c >> 12) & 0x3f));
                    *out++ = static_cast<char>(0x80 | ((c >> 6) & 0x3f));
                    *out++ = static_cast<char>(0x80 | (c & 0x3f));
                    continue;
                }
                c = QChar::ReplacementCharacter; // a lone surrogate has no UTF-8 form
            }
            *out++ = static_cast<char>(0xe0 | (c >> 12));
            *out++ = static_cast<char>(0x80 | ((c >> 6) & 0x3f));
            *out++ = static_cast<char>(0x80 | (c & 0x3f));
        }
        *out++ = '"';
        m_cursor = out;
    }

    // Worst case per UTF-16 unit is "\u00XX" (6 bytes); everything else is shorter.
    static qsizetype stringBound(QStringView text) {
        return 6 * text.size() + 2;
    }

    QByteArray take() {
        m_buffer.truncate(m_cursor - m_buffer.data());
        return std::move(m_buffer);
    }

private:
    QByteArray m_buffer;
    char* m_cursor = nullptr;
};

constexpr int lookahead = 8;

// One `"path":{...}` member of the "files" object, preceded by a comma if needed by the caller.
void encodeMember(Writer& out, const QString& path, const SyncIndexEntry& entry) {
    // Fixed keys and punctuation of one entry, plus room for four numbers.
    constexpr qsizetype overhead = 240;
    const QStringView rev = entry.rev ? QStringView(*entry.rev) : QStringView();
    out.reserve(Writer::stringBound(path) + Writer::stringBound(entry.contentHash) +
                Writer::stringBound(rev) + overhead);
    out.string(path);
    out.put(":{\"size\":");
    out.integer(entry.size);
    if (entry.stamp) {
        out.put(",\"mtimeNs\":");
        out.integer(entry.stamp->mtimeNs);
        out.put(",\"ctimeNs\":");
        out.integer(entry.stamp->ctimeNs);
        if (!entry.stampSettled)
            out.put(",\"unsettled\":true");
    }
    out.put(",\"contentHash\":");
    out.string(entry.contentHash);
    if (entry.rev) {
        out.put(",\"rev\":");
        out.string(rev);
    }
    out.put(",\"syncedAt\":");
    out.date(entry.syncedAt);
    out.put('}');
}

// Everything before the first member.
QByteArray encodeHead(const AccountIdentity& owner) {
    Writer out(Writer::stringBound(owner.uid) + Writer::stringBound(owner.email) + 64);
    out.put("{\"format\":2,\"owner\":{\"uid\":");
    out.string(owner.uid);
    out.put(",\"email\":");
    out.string(owner.email);
    out.put("},\"files\":{");
    return out.take();
}

constexpr char tail[] = "}}";

// Held while the file is read with its journal, and while a fold writes the file and drops
// the journal it covered: a load in between would miss the journal's changes.
QMutex& foldLock() {
    static QMutex lock;
    return lock;
}

QByteArray encodeMember(const QString& path, const SyncIndexEntry& entry) {
    Writer out(0);
    encodeMember(out, path, entry);
    QByteArray member = out.take();
    member.squeeze(); // kept for the life of the index: drop the worst-case headroom
    return member;
}

std::optional<QDateTime> decodeDate(const QJsonValue& value) {
    if (!value.isDouble())
        return std::nullopt;
    const double seconds = value.toDouble();
    if (!std::isfinite(seconds) || std::abs(seconds) > maxAbsSeconds)
        return std::nullopt;
    return QDateTime::fromMSecsSinceEpoch(std::llround(seconds * 1000) + referenceMSecs, Qt::UTC);
}

// Integer-valued only: toInteger() yields 0 for 1.5 or 1e30, which then differs from the
// double; large integers keep full 64-bit precision.
std::optional<qint64> decodeInteger(const QJsonValue& value) {
    if (!value.isDouble() || static_cast<double>(value.toInteger()) != value.toDouble())
        return std::nullopt;
    return value.toInteger();
}

// `firstFormat`: an entry written before stamps were kept, its "mtime" checked and dropped.
std::optional<SyncIndexEntry> decodeEntry(const QJsonValue& value, bool firstFormat) {
    if (!value.isObject())
        return std::nullopt;
    const QJsonObject object = value.toObject();

    SyncIndexEntry entry;
    const auto size = decodeInteger(object.value(QLatin1String("size")));
    if (!size || *size < 0)
        return std::nullopt;
    entry.size = *size;

    const QJsonValue hash = object.value(QLatin1String("contentHash"));
    if (!hash.isString())
        return std::nullopt;
    entry.contentHash = hash.toString();

    const QJsonValue rev = object.value(QLatin1String("rev"));
    if (!rev.isUndefined()) {
        if (!rev.isString())
            return std::nullopt;
        entry.rev = rev.toString();
    }

    const auto syncedAt = decodeDate(object.value(QLatin1String("syncedAt")));
    if (!syncedAt)
        return std::nullopt;
    entry.syncedAt = *syncedAt;

    if (firstFormat)
        return decodeDate(object.value(QLatin1String("mtime"))) ? std::optional(entry) : std::nullopt;
    const QJsonValue mtime = object.value(QLatin1String("mtimeNs"));
    const QJsonValue ctime = object.value(QLatin1String("ctimeNs"));
    const QJsonValue unsettled = object.value(QLatin1String("unsettled"));
    if (mtime.isUndefined() && ctime.isUndefined() && unsettled.isUndefined())
        return entry;
    const auto mtimeNs = decodeInteger(mtime);
    const auto ctimeNs = decodeInteger(ctime);
    if (!mtimeNs || !ctimeNs || !(unsettled.isUndefined() || unsettled.isBool()))
        return std::nullopt;
    entry.stamp = FileStamp{entry.size, *mtimeNs, *ctimeNs};
    entry.stampSettled = !unsettled.toBool();
    return entry;
}

std::optional<AccountIdentity> decodeOwner(const QJsonValue& value) {
    if (value.isUndefined())
        return AccountIdentity{};
    const QJsonValue uid = value.toObject().value(QLatin1String("uid"));
    const QJsonValue email = value.toObject().value(QLatin1String("email"));
    if (!value.isObject() || !uid.isString() || !email.isString())
        return std::nullopt;
    return AccountIdentity{uid.toString(), email.toString()};
}

} // namespace

SyncIndex::SyncIndex(const QString& folderName)
    : m_fileURL(AppSupport::dataDirectory() + QStringLiteral("/index/") + folderName +
                QStringLiteral(".json")),
      m_journal(m_fileURL) {
    AppSupport::ensurePrivateDirectory(QFileInfo(m_fileURL).path());

    std::optional<QByteArray> compact;
    QList<std::pair<QString, QList<QByteArray>>> journals;
    {
        // Not while a fold here writes the file and drops the journal it covered. Newest
        // first, for a process that folds meanwhile: a journal renamed or folded away after
        // it was missed is then found where it went, in the folding journal or in the file.
        QMutexLocker lock(&foldLock());
        const QStringList paths = m_journal.paths();
        for (auto path = paths.crbegin(); path != paths.crend(); ++path)
            journals.prepend({*path, SyncIndexJournal::readLines(*path)}); // applied oldest first
        QFile file(m_fileURL);
        if (file.open(QIODevice::ReadOnly))
            compact = file.readAll();
    }
    if (!compact) {
        // A file that is there but cannot be read is kept like a damaged one.
        m_origin = QFileInfo(m_fileURL).isFile() ? Origin::damaged : Origin::missing;
    } else if (auto loaded = decode(*compact, &m_owner)) {
        m_origin = Origin::loaded;
        m_entries = std::move(*loaded);
    } else {
        m_origin = Origin::damaged;
    }
    if (m_origin == Origin::damaged)
        m_asideTag = QStringLiteral("damaged");

    for (const auto& [path, lines] : journals) {
        for (const QByteArray& line : lines) {
            AccountIdentity owner;
            const auto changed = decode(line, &owner);
            if (!changed)
                continue; // cut short by a crash and written after, or damaged
            if (owner.contradicts(m_owner)) {
                m_foreign.append(path);
                break;
            }
            m_owner = m_owner.mergedWith(owner);
            for (auto it = changed->constBegin(); it != changed->constEnd(); ++it)
                m_entries.insert(it.key(), it.value());
        }
    }
    m_head = encodeHead(m_owner);
    m_members.reserve(m_entries.size());
    for (auto it = m_entries.constBegin(); it != m_entries.constEnd(); ++it)
        m_members.insert(it.key(), encodeMember(it.key(), it.value()));
}

void SyncIndex::setOwner(const AccountIdentity& owner) {
    if (owner == m_owner)
        return;
    m_owner = owner;
    m_head = encodeHead(owner);
    journal(QList<QByteArray>());
}

void SyncIndex::setAside(const QString& tag) {
    Q_ASSERT(!m_folding);
    m_entries.clear();
    m_members.clear();
    m_owner = {};
    m_head = encodeHead(m_owner);
    m_asideTag = tag;
    // Its journal is that account's too: kept with the file, applied to neither.
    m_journal.close();
    m_foreign.clear();
    for (const QString& path : m_journal.paths())
        if (QFileInfo::exists(path))
            AtomicFile::moveAside(path, tag);
    if (QFileInfo::exists(m_fileURL))
        AtomicFile::moveAside(m_fileURL, tag);
    if (!QFileInfo::exists(m_fileURL))
        m_asideTag.reset();
}

std::optional<SyncIndexEntry> SyncIndex::entry(const QString& relativePath) const {
    const auto it = m_entries.constFind(relativePath);
    if (it == m_entries.constEnd())
        return std::nullopt;
    return *it;
}

QByteArray SyncIndex::store(const QString& relativePath, const SyncIndexEntry& entry) {
    // Held as UTC, like decoded entries: equal instants either way, and encoding a UTC date
    // is a subtraction where a local one needs a time-zone lookup, on every entry, per fold.
    SyncIndexEntry stored = entry;
    stored.syncedAt = toUtc(entry.syncedAt);
    if (stored.stamp && stored.stamp->size != stored.size)
        stored.stamp.reset(); // not the content recorded: only its hash can tell
    if (!stored.stamp)
        stored.stampSettled = true; // nothing to settle: one form for "no stamp"
    QByteArray member = encodeMember(relativePath, stored);
    (m_folding ? m_changedWhileFolding : m_members).insert(relativePath, member);
    m_entries.insert(relativePath, std::move(stored));
    return member;
}

void SyncIndex::set(const QString& relativePath, const SyncIndexEntry& entry) {
    journal({store(relativePath, entry)});
}

void SyncIndex::set(const Entries& changed) {
    if (changed.isEmpty())
        return;
    QList<QByteArray> members;
    members.reserve(changed.size());
    for (auto it = changed.constBegin(); it != changed.constEnd(); ++it)
        members.append(store(it.key(), it.value()));
    journal(members);
}

void SyncIndex::journal(const QList<QByteArray>& members) {
    settleForeign();
    qsizetype size = m_head.size() + qsizetype(sizeof tail) + members.size();
    for (const QByteArray& member : members)
        size += member.size();
    QByteArray line;
    line.reserve(size + 1); // and the newline
    line.append(m_head);
    bool first = true;
    for (const QByteArray& member : members) {
        if (!first)
            line.append(',');
        first = false;
        line.append(member);
    }
    line.append(tail);
    // Should it fail, the change is still held here, and the next fold writes it.
    m_journal.append(std::move(line));
}

void SyncIndex::settleForeign() {
    if (m_foreign.isEmpty())
        return;
    m_journal.close();
    for (const QString& path : std::exchange(m_foreign, {}))
        AtomicFile::moveAside(path, QStringLiteral("other-account"));
}

SyncIndex::Fold SyncIndex::snapshot(QStringList covered) const {
    Fold fold;
    fold.m_fileURL = m_fileURL;
    fold.m_asideTag = m_asideTag;
    fold.m_head = m_head;
    fold.m_members = m_members; // shared: frozen here until endFold()
    fold.m_covered = std::move(covered);
    return fold;
}

bool SyncIndex::fold() {
    if (m_folding)
        return false;
    settleForeign();
    m_journal.close();
    QStringList covered;
    for (const QString& path : m_journal.paths())
        if (QFileInfo::exists(path))
            covered.append(path);
    if (covered.isEmpty())
        return true;
    m_folding = true;
    const bool written = snapshot(covered).run();
    endFold(written);
    return written;
}

std::optional<SyncIndex::Fold> SyncIndex::beginFold() {
    if (m_folding)
        return std::nullopt;
    settleForeign();
    m_journal.rotate();
    if (!QFileInfo::exists(m_journal.foldingPath()))
        return std::nullopt;
    m_folding = true;
    Fold fold = snapshot({m_journal.foldingPath()});
    fold.m_needsCovered = true;
    return fold;
}

void SyncIndex::endFold(bool written) {
    m_folding = false;
    for (auto it = m_changedWhileFolding.constBegin(); it != m_changedWhileFolding.constEnd(); ++it)
        m_members.insert(it.key(), it.value());
    m_changedWhileFolding.clear();
    if (written)
        m_asideTag.reset(); // set aside by the fold (setAside waits for it)
}

QByteArray SyncIndex::encode(const Entries& entries, const AccountIdentity& owner) {
    const QByteArray head = encodeHead(owner);
    Writer out(head.size() + entries.size() * 256 + 2);
    out.reserve(head.size());
    for (const char c : head)
        out.put(c);
    bool first = true;
    // The strings of each entry live in separate allocations visited in hash order, so the
    // loop waits on memory more than it computes: ask for the text of entries a few steps
    // ahead while encoding this one.
    auto ahead = entries.constBegin();
    for (int i = 0; i < lookahead && ahead != entries.constEnd(); ++i)
        ++ahead;
    for (auto it = entries.constBegin(); it != entries.constEnd(); ++it) {
        if (ahead != entries.constEnd()) {
            __builtin_prefetch(ahead.key().constData());
            __builtin_prefetch(ahead->contentHash.constData());
            if (ahead->rev)
                __builtin_prefetch(ahead->rev->constData());
            ++ahead;
        }
        if (!first)
            out.put(',');
        first = false;
        encodeMember(out, it.key(), it.value());
    }
    out.reserve(sizeof tail);
    out.put(tail);
    return out.take();
}

std::optional<SyncIndex::Entries> SyncIndex::decode(const QByteArray& json, AccountIdentity* owner) {
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(json, &error);
    if (error.error != QJsonParseError::NoError || !document.isObject())
        return std::nullopt;
    QJsonObject files = document.object();
    // In the first format every member is an entry, so a number here marks the current one.
    const bool firstFormat = !files.value(QLatin1String("format")).isDouble();
    if (!firstFormat) {
        // A later format is not understood: kept as damaged rather than read wrongly.
        const QJsonObject root = files;
        const auto found = decodeOwner(root.value(QLatin1String("owner")));
        if (decodeInteger(root.value(QLatin1String("format"))) != 2 || !found ||
            !root.value(QLatin1String("files")).isObject())
            return std::nullopt;
        if (owner)
            *owner = *found;
        files = root.value(QLatin1String("files")).toObject();
    }

    Entries entries;
    entries.reserve(files.size());
    for (auto it = files.constBegin(); it != files.constEnd(); ++it) {
        auto entry = decodeEntry(it.value(), firstFormat);
        if (!entry)
            return std::nullopt;
        entries.insert(it.key(), std::move(*entry));
    }
    return entries;
}

bool SyncIndex::Fold::run() {
    // Let go of the snapshot whatever happens, before the caller hears back: its index then
    // changes the members without copying them all.
    const QHash<QString, QByteArray> members = std::exchange(m_members, {});
    QMutexLocker lock(&foldLock());
    if (m_needsCovered && !QFileInfo::exists(m_covered.first()))
        return true;
    if (m_asideTag) {
        // Never written over: moved out of the way first, or left as it is for now.
        if (QFileInfo::exists(m_fileURL))
            AtomicFile::moveAside(m_fileURL, *m_asideTag);
        if (QFileInfo::exists(m_fileURL))
            return false;
    }
    // The same bytes encode() would give, joined from the cached members.
    qsizetype size = m_head.size() + 2 + std::max<qsizetype>(members.size() - 1, 0); // commas
    for (const QByteArray& member : members)
        size += member.size();
    QByteArray json(size, Qt::Uninitialized);
    char* out = json.data();
    std::memcpy(out, m_head.constData(), m_head.size());
    out += m_head.size();
    auto ahead = members.constBegin();
    for (int i = 0; i < lookahead && ahead != members.constEnd(); ++i)
        ++ahead;
    bool first = true;
    for (const QByteArray& member : members) {
        if (ahead != members.constEnd())
            __builtin_prefetch((ahead++)->constData());
        if (!first)
            *out++ = ',';
        first = false;
        std::memcpy(out, member.constData(), member.size());
        out += member.size();
    }
    std::memcpy(out, tail, 2);

    // Owner-only: the file lists the user's file names. No fsync: the index can be rebuilt
    // (at worst files are uploaded once more), and the fsync of a few megabytes costs more
    // than encoding and writing them. The rename still keeps readers from ever seeing a
    // half-written file.
    if (!AtomicFile::write(m_fileURL, json, 0600, AtomicFile::Durability::Unsynced))
        return false;
    for (const QString& path : m_covered)
        QFile::remove(path);
    return true;
}

} // namespace norvela
