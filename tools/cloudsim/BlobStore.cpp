#include "BlobStore.h"

#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QTemporaryFile>

#include <openssl/evp.h>

namespace cloudsim {

namespace {

constexpr qint64 hashBlock = 4 * 1024 * 1024;
// On disk, bytes stay in memory up to this much: a small blob that is stored already (most
// small uploads of a benchmark) then costs no file at all.
constexpr qint64 spillBytes = 64 * 1024;

using Digest = std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)>;

Digest newDigest(const EVP_MD* type) {
    Digest d(EVP_MD_CTX_new(), EVP_MD_CTX_free);
    if (type)
        EVP_DigestInit_ex(d.get(), type, nullptr);
    return d;
}

QByteArray finish(EVP_MD_CTX* ctx) {
    unsigned char out[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    EVP_DigestFinal_ex(ctx, out, &length);
    return QByteArray(reinterpret_cast<const char*>(out), int(length));
}

} // namespace

struct BlobStore::Builder::State {
    // What the digests are made of, copied aside when a piece opens.
    struct Sums {
        Digest overall = newDigest(nullptr); // over the SHA-256 of each 4 MiB block
        Digest block = newDigest(nullptr);
        Digest md5 = newDigest(nullptr);
        qint64 inBlock = 0;
        qint64 size = 0;

        void copyFrom(const Sums& other, bool withMd5) {
            EVP_MD_CTX_copy_ex(overall.get(), other.overall.get());
            EVP_MD_CTX_copy_ex(block.get(), other.block.get());
            if (withMd5)
                EVP_MD_CTX_copy_ex(md5.get(), other.md5.get());
            inBlock = other.inBlock;
            size = other.size;
        }
    };

    bool withMd5 = false;
    Sums sums;
    Sums pieceStart;
    bool pieceOpen = false;
    QByteArray memory; // all the bytes in memory, or on disk those not yet in `file`
    std::unique_ptr<QTemporaryFile> file;

    void spill(const QString& dir) {
        file = std::make_unique<QTemporaryFile>(dir + QStringLiteral("/incoming-XXXXXX"));
        file->open();
        file->write(memory);
        memory = QByteArray();
    }
};

BlobStore::Builder::Builder(BlobStore& store, Sums sums)
    : m_store(store), m_state(std::make_unique<State>()) {
    State& s = *m_state;
    s.withMd5 = sums == Sums::withMd5;
    EVP_DigestInit_ex(s.sums.overall.get(), EVP_sha256(), nullptr);
    EVP_DigestInit_ex(s.sums.block.get(), EVP_sha256(), nullptr);
    if (s.withMd5)
        EVP_DigestInit_ex(s.sums.md5.get(), EVP_md5(), nullptr);
}

BlobStore::Builder::~Builder() = default;

qint64 BlobStore::Builder::size() const {
    return m_state->sums.size;
}

void BlobStore::Builder::append(QByteArrayView bytes) {
    State& s = *m_state;
    if (s.withMd5)
        EVP_DigestUpdate(s.sums.md5.get(), bytes.data(), size_t(bytes.size()));
    qint64 offset = 0;
    while (offset < bytes.size()) {
        const qint64 piece = std::min(hashBlock - s.sums.inBlock, bytes.size() - offset);
        EVP_DigestUpdate(s.sums.block.get(), bytes.data() + offset, size_t(piece));
        s.sums.inBlock += piece;
        offset += piece;
        if (s.sums.inBlock == hashBlock) {
            const QByteArray digest = cloudsim::finish(s.sums.block.get());
            EVP_DigestUpdate(s.sums.overall.get(), digest.constData(), size_t(digest.size()));
            EVP_DigestInit_ex(s.sums.block.get(), EVP_sha256(), nullptr);
            s.sums.inBlock = 0;
        }
    }
    s.sums.size += bytes.size();
    if (s.file) {
        s.file->write(bytes.data(), bytes.size());
        return;
    }
    s.memory.append(bytes);
    if (!m_store.m_dir.isEmpty() && s.memory.size() > spillBytes)
        s.spill(m_store.m_dir);
}

void BlobStore::Builder::openPiece() {
    State& s = *m_state;
    s.pieceStart.copyFrom(s.sums, s.withMd5);
    s.pieceOpen = true;
}

void BlobStore::Builder::closePiece(bool keep) {
    State& s = *m_state;
    if (!s.pieceOpen)
        return;
    s.pieceOpen = false;
    if (keep || s.sums.size == s.pieceStart.size)
        return;
    s.sums.copyFrom(s.pieceStart, s.withMd5);
    if (s.file) {
        s.file->resize(s.sums.size);
        s.file->seek(s.sums.size);
    } else {
        s.memory.truncate(s.sums.size);
    }
}

bool BlobStore::Builder::pieceOpen() const {
    return m_state->pieceOpen;
}

Blob BlobStore::Builder::finish() {
    State& s = *m_state;
    if (s.sums.inBlock > 0) {
        const QByteArray digest = cloudsim::finish(s.sums.block.get());
        EVP_DigestUpdate(s.sums.overall.get(), digest.constData(), size_t(digest.size()));
    }
    Blob blob;
    blob.contentHash = QString::fromLatin1(cloudsim::finish(s.sums.overall.get()).toHex());
    blob.id = blob.contentHash;
    if (s.withMd5)
        blob.md5 = QString::fromLatin1(cloudsim::finish(s.sums.md5.get()).toHex());
    blob.size = s.sums.size;
    if (!m_store.m_dir.isEmpty()) {
        const QString target = m_store.m_dir + QLatin1Char('/') + blob.id;
        if (QFile::exists(target)) {
            if (s.file)
                s.file->remove();
            return blob;
        }
        if (!s.file)
            s.spill(m_store.m_dir);
        s.file->flush();
        if (s.file->rename(target))
            s.file->setAutoRemove(false);
    } else if (!m_store.m_memory.contains(blob.id)) {
        m_store.m_memory.insert(blob.id, std::move(s.memory));
    }
    return blob;
}

BlobStore::BlobStore(QString directory) : m_dir(std::move(directory)) {
    if (!m_dir.isEmpty())
        QDir().mkpath(m_dir);
}

BlobStore::~BlobStore() = default;

std::shared_ptr<BlobStore::Builder> BlobStore::builder(Sums sums) {
    return std::shared_ptr<Builder>(new Builder(*this, sums));
}

std::shared_ptr<QIODevice> BlobStore::open(const Blob& blob) const {
    if (m_dir.isEmpty()) {
        auto buffer = std::make_shared<QBuffer>();
        buffer->setData(m_memory.value(blob.id));
        buffer->open(QIODevice::ReadOnly);
        return buffer;
    }
    auto file = std::make_shared<QFile>(m_dir + QLatin1Char('/') + blob.id);
    file->open(QIODevice::ReadOnly);
    return file;
}

void BlobStore::clear() {
    m_memory.clear();
    if (!m_dir.isEmpty()) {
        QDir dir(m_dir);
        for (const QString& name : dir.entryList(QDir::Files))
            dir.remove(name);
    }
}

} // namespace cloudsim
