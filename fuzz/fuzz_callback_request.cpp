// What reaches the loopback callback port. Whatever the target says, the parsed URL stays
// on this machine: the browser's redirect must not be steerable to another host.
#include "FuzzSupport.h"
#include "auth/CallbackRequest.h"

using namespace norvela;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QByteArray input = fuzz::bytes(data, size);
    const qsizetype length = CallbackRequest::headLength(input);
    const std::optional<CallbackRequest> request =
        CallbackRequest::parse(length < 0 ? input : input.left(length));
    if (!request)
        return 0;
    if (!request->url.isValid() || request->url.host() != QLatin1String("localhost") ||
        request->url.scheme() != QLatin1String("http") || request->url.port() != -1 ||
        !request->url.userInfo().isEmpty())
        fuzz::broken("the target left the loopback origin");
    if (request->method.isEmpty())
        fuzz::broken("a request without a method");
    (void)request->path();
    for (const char* name : {"state", "code", "error", "error_description"})
        (void)request->item(QString::fromLatin1(name));
    return 0;
}
