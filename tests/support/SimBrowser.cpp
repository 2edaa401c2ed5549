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

namespace {

QCoro::Task<> runLink(AuthService* service, bool forceAccountSelection, PendingLink* link) {
    try {
        co_await service->link(false, forceAccountSelection);
    } catch (...) {
        link->failure = describe(std::current_exception());
    }
    link->done = true;
}

} // namespace

std::unique_ptr<PendingLink> startLink(AuthService& service, bool forceAccountSelection) {
    auto link = std::make_unique<PendingLink>();
    service.onAuthorizationUrl = [at = link.get()](const QUrl& u) { at->url = u; };
    link->task = runLink(&service, forceAccountSelection, link.get());
    return link;
}

std::optional<QString> linkThroughBrowser(AuthService& service, bool forceAccountSelection,
                                          const Tamper& tamper, QUrl* authorizationUrl) {
    const auto link = startLink(service, forceAccountSelection);
    if (authorizationUrl)
        *authorizationUrl = link->url;
    if (!link->done && !link->url.isEmpty())
        browse(link->url, tamper);
    EXPECT_TRUE(waitFor([&] { return link->done; }));
    service.onAuthorizationUrl = nullptr;
    return link->failure;
}

} // namespace norvela::test
