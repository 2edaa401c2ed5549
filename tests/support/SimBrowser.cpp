#include "SimBrowser.h"

#include "TestSupport.h"
#include "common/NorvelaError.h"

#include <gtest/gtest.h>

namespace norvela::test {

HttpReply browse(const QUrl& url, const Tamper& tamper) {
    const HttpReply page = httpRequest("GET", url.toString(QUrl::FullyEncoded));
    if (page.status != 302)
        return page;
    QUrl target(QString::fromUtf8(page.header("Location")));
    if (tamper)
        target = tamper(target);
    return httpRequest("GET", target.toString(QUrl::FullyEncoded));
}

std::optional<QString> linkThroughBrowser(AuthService& service, bool forceAccountSelection,
                                          const Tamper& tamper, QUrl* authorizationUrl) {
    QUrl url;
    service.onAuthorizationUrl = [&](const QUrl& u) { url = u; };
    bool done = false;
    std::optional<QString> failure;
    auto run = [&]() -> QCoro::Task<> {
        try {
            co_await service.link(false, forceAccountSelection);
        } catch (...) {
            failure = describe(std::current_exception());
        }
        done = true;
    };
    auto task = run();
    if (authorizationUrl)
        *authorizationUrl = url;
    if (!done && !url.isEmpty())
        browse(url, tamper);
    EXPECT_TRUE(waitFor([&] { return done; }));
    service.onAuthorizationUrl = nullptr;
    return failure;
}

} // namespace norvela::test
