#include "BlobStore.h"

#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QTemporaryFile>

#include <openssl/evp.h>

namespace cloudsim {

namespace {

constexpr qint64 hashBlock = 4 * 1024 * 1024;

using Digest = std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)>;

Digest newDigest(const EVP_MD* type) {
    Digest d(EVP_MD_CTX_new(), EVP_MD_CTX_free);
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
    Digest sha = newDigest(EVP_sha256());
    Digest md5 = newDigest(EVP_md5());
    Digest overall = newDigest(EVP_sha256()); // over the SHA-256 of each 4 MiB block
    Digest block = newDigest(EVP_sha256());
    qint64 inBlock = 0;
    qint64 size = 0;
    QByteArray memory;
    std::unique_ptr<QTemporaryFile> file;
};

BlobStore::Builder::Builder(BlobStore& store) : m_store(store), m_state(std::make_unique<State>()) {
    if (!store.m_dir.isEmpty()) {
        m_state->file = std::make_unique<QTemporaryFile>(store.m_dir + QStringLiteral("/incoming-XXXXXX"));
        m_state->file->open();
    }
}

BlobStore::Builder::~Builder() = default;

qint64 BlobStore::Builder::size() const {
    return m_state->size;
}

void BlobStore::Builder::append(const QByteArray& bytes) {
    State& s = *m_state;
    EVP_DigestUpdate(s.sha.get(), bytes.constData(), size_t(bytes.size()));
    EVP_DigestUpdate(s.md5.get(), bytes.constData(), size_t(bytes.size()));
    qint64 offset = 0;
    while (offset < bytes.size()) {
        const qint64 piece = std::min(hashBlock - s.inBlock, bytes.size() - offset);
        EVP_DigestUpdate(s.block.get(), bytes.constData() + offset, size_t(piece));
        s.inBlock += piece;
        offset += piece;
        if (s.inBlock == hashBlock) {
            const QByteArray digest = cloudsim::finish(s.block.get());
            EVP_DigestUpdate(s.overall.get(), digest.constData(), size_t(digest.size()));
            EVP_DigestInit_ex(s.block.get(), EVP_sha256(), nullptr);
            s.inBlock = 0;
        }
    }
    s.size += bytes.size();
    if (s.file)
        s.file->write(bytes);
    else
        s.memory += bytes;
}

Blob BlobStore::Builder::finish() {
    State& s = *m_state;
    if (s.inBlock > 0) {
        const QByteArray digest = cloudsim::finish(s.block.get());
        EVP_DigestUpdate(s.overall.get(), digest.constData(), size_t(digest.size()));
    }
    Blob blob;
    blob.id = QString::fromLatin1(cloudsim::finish(s.sha.get()).toHex());
    blob.md5 = QString::fromLatin1(cloudsim::finish(s.md5.get()).toHex());
    blob.contentHash = QString::fromLatin1(cloudsim::finish(s.overall.get()).toHex());
    blob.size = s.size;
    if (s.file) {
        const QString target = m_store.m_dir + QLatin1Char('/') + blob.id;
        s.file->flush();
        if (QFile::exists(target))
            s.file->remove();
        else if (s.file->rename(target))
            s.file->setAutoRemove(false);
    } else if (!m_store.m_memory.contains(blob.id)) {
        m_store.m_memory.insert(blob.id, s.memory);
    }
    return blob;
}

BlobStore::BlobStore(QString directory) : m_dir(std::move(directory)) {
    if (!m_dir.isEmpty())
        QDir().mkpath(m_dir);
}

BlobStore::~BlobStore() = default;

std::unique_ptr<BlobStore::Builder> BlobStore::builder() {
    return std::unique_ptr<Builder>(new Builder(*this));
}

Blob BlobStore::put(const QByteArray& bytes) {
    auto b = builder();
    b->append(bytes);
    return b->finish();
}

QByteArray BlobStore::read(const Blob& blob) const {
    if (m_dir.isEmpty())
        return m_memory.value(blob.id);
    QFile file(m_dir + QLatin1Char('/') + blob.id);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
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

qint64 BlobStore::memoryBytes() const {
    qint64 total = 0;
    for (const QByteArray& bytes : m_memory)
        total += bytes.size();
    return total;
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
