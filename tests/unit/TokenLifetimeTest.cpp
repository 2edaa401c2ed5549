#include "auth/DropboxAuthService.h"
#include "cloudsim/HttpServer.h"

#include "support/ManualClock.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

using namespace norvela;
using namespace std::chrono_literals;

namespace {

// A token endpoint that answers every refresh with `expiresIn` as the lifetime, spelled as given.
struct TokenEndpoint {
    explicit TokenEndpoint(QByteArray expiresIn)
        : server([this, expiresIn](const cloudsim::HttpRequest&) {
              ++refreshes;
              const QByteArray member = expiresIn.isEmpty() ? QByteArray() : ",\"expires_in\":" + expiresIn;
              return cloudsim::HttpResponse::json(
                  200, "{\"access_token\":\"token-" + QByteArray::number(refreshes) + "\"" + member + "}");
          }) {
        server.listen(0);
        endpoints.api = QUrl(QStringLiteral("http://127.0.0.1:%1").arg(server.port()));
        endpoints.appKey = QStringLiteral("key");
    }

    int refreshes = 0;
    cloudsim::HttpServer server;
    DropboxEndpoints endpoints;
};

const TokenSlot slot{"dbid:1", "a@example.com", "refresh-1", "dropbox"};

} // namespace

TEST(TokenLifetime, TheServicesWordIsTakenWithinADayLessAMinute) {
    struct Case {
        QByteArray expiresIn;
        std::chrono::seconds usedFor;
    };
    const Case cases[] = {{"14400", 14400s - 60s},     {"61", 1s},       {"1e30", 24h},
                          {"3153600000", 24h},         {"86460.9", 24h}, {"1.7976931348623157e308", 24h},
                          {"9223372036854775807", 24h}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.expiresIn.constData());
        TokenEndpoint endpoint(c.expiresIn);
        test::ManualClock clock;
        DropboxAuthService auth(slot, endpoint.endpoints, clock);
        EXPECT_EQ(test::await(auth.validAccessToken()), "token-1");
        clock.advance(c.usedFor - 1s);
        EXPECT_EQ(test::await(auth.validAccessToken()), "token-1");
        clock.advance(1s);
        EXPECT_EQ(test::await(auth.validAccessToken()), "token-2");
        EXPECT_EQ(endpoint.refreshes, 2);
    }
}

TEST(TokenLifetime, ALifetimeThatIsNoSensibleNumberMeansRefreshOnTheNextCall) {
    // Zero, negative, within the margin, not a number at all, or missing: never "valid for ever".
    for (const QByteArray expiresIn :
         {"0", "-5", "-1e30", "60", "59.999", "\"3600\"", "null", "true", "[3600]", "{}", ""}) {
        SCOPED_TRACE(expiresIn.constData());
        TokenEndpoint endpoint(expiresIn);
        test::ManualClock clock;
        DropboxAuthService auth(slot, endpoint.endpoints, clock);
        EXPECT_EQ(test::await(auth.validAccessToken()), "token-1");
        EXPECT_EQ(test::await(auth.validAccessToken()), "token-2");
        EXPECT_EQ(endpoint.refreshes, 2);
    }

    // A number JSON cannot hold fails the refresh as an unreadable reply; the next call tries again.
    TokenEndpoint endpoint("1e400");
    DropboxAuthService auth(slot, endpoint.endpoints);
    EXPECT_THROW(test::await(auth.validAccessToken()), NorvelaError);
    EXPECT_THROW(test::await(auth.validAccessToken()), NorvelaError);
    EXPECT_EQ(endpoint.refreshes, 2);
}
