#include "BlobSink.h"

namespace cloudsim {

BlobSink::BlobSink(std::shared_ptr<BlobStore::Builder> builder, std::function<HttpResponse()> done)
    : m_builder(std::move(builder)), m_done(std::move(done)) {
    m_builder->openPiece();
}

BlobSink::~BlobSink() {
    m_builder->closePiece(false); // no-op once finished or abandoned
}

void BlobSink::write(QByteArrayView bytes) {
    m_builder->append(bytes);
}

HttpResponse BlobSink::finish() {
    m_builder->closePiece(true);
    return m_done();
}

void BlobSink::abandon() {
    m_builder->closePiece(false);
}

} // namespace cloudsim
