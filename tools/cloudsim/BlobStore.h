#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QHash>
#include <QIODevice>
#include <QString>

#include <memory>

namespace cloudsim {

// Stored bytes, addressed by their Dropbox content hash (a SHA-256 over the SHA-256 of each
// 4 MiB block), with the MD5 that Drive reports when it was asked for.
struct Blob {
    QString id; // the content hash, hex; older stores named blobs by the SHA-256 of the bytes
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
    // The sums a blob gets: always the content hash, and the MD5 too for Drive.
    enum class Sums { contentHash, withMd5 };

    explicit BlobStore(QString directory = {});
    ~BlobStore();

    // Receives the bytes of one blob as they arrive, hashing as it goes; on disk they go
    // straight to a file, a small blob's only once it is known not to be stored already.
    class Builder {
    public:
        ~Builder();
        void append(QByteArrayView bytes);
        qint64 size() const;
        // A piece is what one request brings. Opened before its first byte, it is kept or
        // taken back whole when the request ends, so a request cut off part-way leaves the
        // builder as it was; meanwhile the builder is busy for other requests.
        void openPiece();
        void closePiece(bool keep);
        bool pieceOpen() const;
        Blob finish(); // the builder is spent afterwards

    private:
        friend class BlobStore;
        struct State;
        Builder(BlobStore& store, Sums sums);
        BlobStore& m_store;
        std::unique_ptr<State> m_state;
    };

    // Shared, so that a request streaming into a session's builder keeps it alive even when
    // the session goes meanwhile.
    std::shared_ptr<Builder> builder(Sums sums);
    std::shared_ptr<QIODevice> open(const Blob& blob) const;
    void clear();

private:
    QString m_dir;
    QHash<QString, QByteArray> m_memory;
};

} // namespace cloudsim
