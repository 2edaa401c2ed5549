#pragma once

#include "HttpMessage.h"

#include <QByteArrayView>

#include <functional>
#include <memory>

namespace cloudsim {

// Takes a request's body as it arrives, instead of the server gathering it whole, so that
// uploads reach storage without copies of the whole body. Made from the request's head; what
// it changes, it changes as bytes come, and the reply is made once the body is in.
class BodySink {
public:
    virtual ~BodySink() = default;
    virtual void write(QByteArrayView bytes) = 0;
    // The whole body has arrived: the reply.
    virtual HttpResponse finish() = 0;
    // The connection died part-way (the client left, or a fault dropped it).
    virtual void abandon() {}

    // A sink that lets the body go and answers with what `reply` makes once it is in, as a
    // request decided from its head alone.
    static std::unique_ptr<BodySink> answer(std::function<HttpResponse()> reply);
    static std::unique_ptr<BodySink> answer(HttpResponse reply);
    // A sink that gathers the body and hands the whole request to `serve`, for small bodies
    // that are read as a whole (metadata, multipart).
    static std::unique_ptr<BodySink> gather(HttpRequest head,
                                            std::function<HttpResponse(const HttpRequest&)> serve);
    // Feeds a whole body to `sink` and returns its reply: a request that was gathered anyway.
    static HttpResponse respond(std::unique_ptr<BodySink> sink, const QByteArray& body);
};

} // namespace cloudsim
