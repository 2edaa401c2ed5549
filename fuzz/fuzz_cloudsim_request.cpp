// Request heads as the emulator's server reads them off a connection.
#include "FuzzSupport.h"
#include "cloudsim/HttpMessage.h"
#include "cloudsim/HttpServer.h"

using namespace cloudsim;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QByteArray input = norvela::fuzz::bytes(data, size);
    const qsizetype end = input.indexOf("\r\n\r\n");
    const RequestHead head = RequestHead::parse(end < 0 ? input : input.left(end), HttpServer::maxBodyBytes);
    if (head.refusal != 0) {
        if (head.refusal != 400 && head.refusal != 411 && head.refusal != 413)
            norvela::fuzz::broken("an unexpected refusal");
        return 0;
    }
    if (head.bodyLength < 0 || head.bodyLength > HttpServer::maxBodyBytes)
        norvela::fuzz::broken("a body length out of bounds");
    if (head.request.method.isEmpty() || head.request.target.isEmpty())
        norvela::fuzz::broken("a request without a method or target");
    for (const auto& [name, value] : head.request.headers)
        if (name != name.toLower())
            norvela::fuzz::broken("a header name not lower-cased");
    (void)head.request.query.queryItems(QUrl::FullyDecoded);
    return 0;
}
