#include "LinkCommands.h"

#include "LinkedAccounts.h"
#include "auth/AuthService.h"
#include "cloud/CloudProvider.h"
#include "cloud/ProviderKind.h"
#include "common/NorvelaError.h"

namespace norvela::cli {

QCoro::Task<int> linkCommand(QStringList args, Io io) {
    const bool noBrowser = args.removeAll(QStringLiteral("--no-browser")) > 0;
    const auto kind = args.size() == 1 ? ProviderKinds::fromId(args.first()) : std::nullopt;
    if (!kind) {
        io.err << "usage: norvela link dropbox|gdrive [--no-browser]\n";
        co_return 2;
    }
    const bool forceAccountSelection = !ProviderKinds::tokenStore(*kind).load().isEmpty();
    const auto provider = ProviderKinds::makeProvider(*kind, std::nullopt, ServiceEndpoints::configured());
    provider->authService().onAuthorizationUrl = [&io, noBrowser](const QUrl& url) {
        if (noBrowser)
            io.out << url.toString(QUrl::FullyEncoded) << '\n';
        else
            io.err << "Opening the sign-in page in your browser; waiting for you to approve…\n";
        io.out.flush();
        io.err.flush();
    };
    try {
        co_await provider->link(!noBrowser, forceAccountSelection);
    } catch (...) {
        io.err << "norvela: " << describe(std::current_exception()) << '\n';
        co_return 1;
    }
    io.out << "Linked " << provider->accountKey() << ' '
           << provider->accountEmail().value_or(QStringLiteral("-")) << '\n';
    co_return 0;
}

QCoro::Task<int> unlinkCommand(QStringList args, Io io) {
    if (args.size() != 1) {
        io.err << "usage: norvela unlink ACCOUNT_KEY\n";
        co_return 2;
    }
    const auto provider = findLinkedAccount(args.first(), io.err);
    if (!provider)
        co_return 1;
    co_await provider->unlink();
    io.out << "Unlinked " << args.first() << '\n';
    co_return 0;
}

} // namespace norvela::cli
