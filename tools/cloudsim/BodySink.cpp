#include "BodySink.h"

namespace cloudsim {

namespace {

class AnswerSink : public BodySink {
public:
    explicit AnswerSink(std::function<HttpResponse()> reply) : m_reply(std::move(reply)) {}
    void write(QByteArrayView) override {}
    HttpResponse finish() override { return m_reply(); }

private:
    std::function<HttpResponse()> m_reply;
};

class GatherSink : public BodySink {
public:
    GatherSink(HttpRequest head, std::function<HttpResponse(const HttpRequest&)> serve)
        : m_request(std::move(head)), m_serve(std::move(serve)) {
        m_request.body.reserve(m_request.contentLength);
    }
    void write(QByteArrayView bytes) override { m_request.body.append(bytes); }
    HttpResponse finish() override { return m_serve(m_request); }

private:
    HttpRequest m_request;
    std::function<HttpResponse(const HttpRequest&)> m_serve;
};

} // namespace

std::unique_ptr<BodySink> BodySink::answer(std::function<HttpResponse()> reply) {
    return std::make_unique<AnswerSink>(std::move(reply));
}

std::unique_ptr<BodySink> BodySink::answer(HttpResponse reply) {
    return answer([reply = std::move(reply)] { return reply; });
}

std::unique_ptr<BodySink> BodySink::gather(HttpRequest head,
                                           std::function<HttpResponse(const HttpRequest&)> serve) {
    return std::make_unique<GatherSink>(std::move(head), std::move(serve));
}

HttpResponse BodySink::respond(std::unique_ptr<BodySink> sink, const QByteArray& body) {
    sink->write(body);
    return sink->finish();
}

} // namespace cloudsim
