#include "SyncIndex.h"

#include "common/AppSupport.h"
#include "common/AtomicFile.h"

#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonValue>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstring>

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
// per-character capacity checks. The whole index is rewritten after every upload.
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

// One `"path":{...}` member of the top-level object, preceded by a comma if needed by the caller.
void encodeMember(Writer& out, const QString& path, const SyncIndexEntry& entry) {
    // Fixed keys and punctuation of one entry, plus room for three numbers.
    constexpr qsizetype overhead = 160;
    const QStringView rev = entry.rev ? QStringView(*entry.rev) : QStringView();
    out.reserve(Writer::stringBound(path) + Writer::stringBound(entry.contentHash) +
                Writer::stringBound(rev) + overhead);
    out.string(path);
    out.put(":{\"size\":");
    out.integer(entry.size);
    out.put(",\"mtime\":");
    out.date(entry.mtime);
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

std::optional<SyncIndexEntry> decodeEntry(const QJsonValue& value) {
    if (!value.isObject())
        return std::nullopt;
    const QJsonObject object = value.toObject();

    SyncIndexEntry entry;
    // Integer-valued only: toInteger() yields 0 for 1.5 or 1e30, which then differs from
    // the double; large integers keep full 64-bit precision.
    const QJsonValue size = object.value(QLatin1String("size"));
    if (!size.isDouble() || static_cast<double>(size.toInteger()) != size.toDouble())
        return std::nullopt;
    entry.size = size.toInteger();

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

    auto mtime = decodeDate(object.value(QLatin1String("mtime")));
    auto syncedAt = decodeDate(object.value(QLatin1String("syncedAt")));
    if (!mtime || !syncedAt)
        return std::nullopt;
    entry.mtime = *mtime;
    entry.syncedAt = *syncedAt;
    return entry;
}

} // namespace

SyncIndex::SyncIndex(const QString& folderName) {
    const QString directory = AppSupport::dataDirectory() + QStringLiteral("/index");
    AppSupport::ensurePrivateDirectory(directory);
    m_fileURL = directory + QLatin1Char('/') + folderName + QStringLiteral(".json");

    QFile file(m_fileURL);
    if (!file.open(QIODevice::ReadOnly))
        return;
    if (auto loaded = decode(file.readAll())) {
        m_entries = std::move(*loaded);
        m_members.reserve(m_entries.size());
        for (auto it = m_entries.constBegin(); it != m_entries.constEnd(); ++it)
            m_members.insert(it.key(), encodeMember(it.key(), it.value()));
    }
}

std::optional<SyncIndexEntry> SyncIndex::entry(const QString& relativePath) const {
    const auto it = m_entries.constFind(relativePath);
    if (it == m_entries.constEnd())
        return std::nullopt;
    return *it;
}

void SyncIndex::set(const QString& relativePath, const SyncIndexEntry& entry) {
    // Held as UTC, like decoded entries: equal instants either way, and encoding a UTC date
    // is a subtraction where a local one needs a time-zone lookup, on every entry, per write.
    SyncIndexEntry stored = entry;
    stored.mtime = toUtc(entry.mtime);
    stored.syncedAt = toUtc(entry.syncedAt);
    m_members.insert(relativePath, encodeMember(relativePath, stored));
    m_entries.insert(relativePath, std::move(stored));
    persist();
}

QByteArray SyncIndex::encode(const Entries& entries) {
    Writer out(entries.size() * 256 + 2);
    out.put('{');
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
    out.reserve(1);
    out.put('}');
    return out.take();
}

std::optional<SyncIndex::Entries> SyncIndex::decode(const QByteArray& json) {
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(json, &error);
    if (error.error != QJsonParseError::NoError || !document.isObject())
        return std::nullopt;
    const QJsonObject root = document.object();

    Entries entries;
    entries.reserve(root.size());
    for (auto it = root.constBegin(); it != root.constEnd(); ++it) {
        auto entry = decodeEntry(it.value());
        if (!entry)
            return std::nullopt;
        entries.insert(it.key(), std::move(*entry));
    }
    return entries;
}

void SyncIndex::persist() const {
    // The same bytes encode(m_entries) would give, joined from the cached members.
    qsizetype size = 2 + std::max<qsizetype>(m_members.size() - 1, 0); // braces and commas
    for (const QByteArray& member : m_members)
        size += member.size();
    QByteArray json(size, Qt::Uninitialized);
    char* out = json.data();
    *out++ = '{';
    auto ahead = m_members.constBegin();
    for (int i = 0; i < lookahead && ahead != m_members.constEnd(); ++i)
        ++ahead;
    bool first = true;
    for (const QByteArray& member : m_members) {
        if (ahead != m_members.constEnd())
            __builtin_prefetch((ahead++)->constData());
        if (!first)
            *out++ = ',';
        first = false;
        std::memcpy(out, member.constData(), member.size());
        out += member.size();
    }
    *out = '}';

    // Owner-only: the file lists the user's file names. No fsync: the index can be rebuilt
    // (at worst files are uploaded once more) and is rewritten after every upload, and the
    // fsync of a few megabytes costs more than encoding and writing them. The rename still
    // keeps readers from ever seeing a half-written file.
    AtomicFile::write(m_fileURL, json, 0600, AtomicFile::Durability::Unsynced);
}

} // namespace norvela
