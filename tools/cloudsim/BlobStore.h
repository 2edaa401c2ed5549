#pragma once

#include <QByteArray>
#include <QHash>
#include <QIODevice>
#include <QString>

#include <memory>

namespace cloudsim {

// Stored bytes, addressed by their SHA-256, with the two hashes the services report.
struct Blob {
    QString id; // SHA-256 of the bytes, hex
    qint64 size = 0;
    QString contentHash; // the Dropbox content hash
    QString md5;

    bool isNull() const { return id.isEmpty(); }
};

// Holds file contents in memory, or on disk under a directory so that stored bytes survive
// restarts and big uploads don't live in RAM. Blobs are immutable and shared by every
// revision that has the same bytes.
class BlobStore {
public:
    explicit BlobStore(QString directory = {});
    ~BlobStore();

    // Receives the bytes of one blob piece by piece (upload sessions), hashing as it goes.
    class Builder {
    public:
        ~Builder();
        void append(const QByteArray& bytes);
        qint64 size() const;
        Blob finish(); // the builder is spent afterwards

    private:
        friend class BlobStore;
        struct State;
        explicit Builder(BlobStore& store);
        BlobStore& m_store;
        std::unique_ptr<State> m_state;
    };

    std::unique_ptr<Builder> builder();
    Blob put(const QByteArray& bytes);
    QByteArray read(const Blob& blob) const;
    std::shared_ptr<QIODevice> open(const Blob& blob) const;
    // Bytes held in memory (0 when stored on disk).
    qint64 memoryBytes() const;
    void clear();

private:
    QString m_dir;
    QHash<QString, QByteArray> m_memory;
};

} // namespace cloudsim
