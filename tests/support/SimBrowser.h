#pragma once

#include "HttpClient.h"
#include "auth/AuthService.h"

#include <QUrl>

#include <functional>
#include <memory>
#include <optional>

namespace norvela::test {

// Changes the redirect the authorisation page answered with, to play a tampering browser.
using Tamper = std::function<QUrl(QUrl)>;

// Plays the user's browser: opens the authorisation page and follows its redirect to the
// loopback server, optionally changing the redirect on the way.
HttpReply browse(const QUrl& url, const Tamper& tamper = {});

// A link under way: where the browser was sent, and once it ends, how.
struct PendingLink {
    QUrl url;
    bool done = false;
    std::optional<QString> failure; // the error's description
    QCoro::Task<> task;
};

// Starts linking `service` and leaves it waiting for the browser.
std::unique_ptr<PendingLink> startLink(AuthService& service, bool forceAccountSelection = false);

// Links `service` against the emulator its endpoints point at, playing the browser.
// Returns the error's description, or nothing on success; `authorizationUrl` receives the
// page the browser was sent to.
std::optional<QString> linkThroughBrowser(AuthService& service, bool forceAccountSelection = false,
                                          const Tamper& tamper = {}, QUrl* authorizationUrl = nullptr);

} // namespace norvela::test
