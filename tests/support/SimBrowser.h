#pragma once

#include "HttpClient.h"
#include "auth/AuthService.h"

#include <QUrl>

#include <functional>
#include <optional>

namespace norvela::test {

// Changes the redirect the authorisation page answered with, to play a tampering browser.
using Tamper = std::function<QUrl(QUrl)>;

// Plays the user's browser: opens the authorisation page and follows its redirect to the
// loopback server, optionally changing the redirect on the way.
HttpReply browse(const QUrl& url, const Tamper& tamper = {});

// Links `service` against the emulator its endpoints point at, playing the browser.
// Returns the error's description, or nothing on success; `authorizationUrl` receives the
// page the browser was sent to.
std::optional<QString> linkThroughBrowser(AuthService& service, bool forceAccountSelection = false,
                                          const Tamper& tamper = {}, QUrl* authorizationUrl = nullptr);

} // namespace norvela::test
