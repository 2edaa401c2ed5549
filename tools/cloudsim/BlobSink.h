#pragma once

#include "BlobStore.h"
#include "BodySink.h"

namespace cloudsim {

// Streams a request body into a blob builder as one piece: kept once the body is whole, taken
// back when the request is cut off part-way. `done` makes the reply after the piece is kept.
class BlobSink : public BodySink {
public:
    BlobSink(std::shared_ptr<BlobStore::Builder> builder, std::function<HttpResponse()> done);
    ~BlobSink() override;

    void write(QByteArrayView bytes) override;
    HttpResponse finish() override;
    void abandon() override;

private:
    std::shared_ptr<BlobStore::Builder> m_builder;
    std::function<HttpResponse()> m_done;
};

} // namespace cloudsim
