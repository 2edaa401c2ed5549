#include "ModelFixture.h"

#include "app/DevelopmentHooks.h"
#include "common/AppSupport.h"

#include <QFile>

using namespace norvela;
using namespace norvela::test;
using namespace std::chrono_literals;

TEST(DevelopmentHooks, ReadFromTheEnvironment) {
    const struct {
        const char* autoLink; // nullptr: unset
        const char* dumpState;
        std::optional<ProviderKind> expectedLink;
        bool expectedDump;
    } rows[] = {
        {nullptr, nullptr, std::nullopt, false},
        {"google", "1", ProviderKind::googleDrive, true},
        {"", "true", ProviderKind::dropbox, false}, // set to anything else: Dropbox
        {"dropbox", "0", ProviderKind::dropbox, false},
    };
    for (const auto& row : rows) {
        row.autoLink ? qputenv("NORVELA_AUTOLINK", row.autoLink) : qunsetenv("NORVELA_AUTOLINK");
        row.dumpState ? qputenv("NORVELA_DUMP_STATE", row.dumpState) : qunsetenv("NORVELA_DUMP_STATE");
        const DevelopmentHooks hooks = DevelopmentHooks::fromEnvironment();
        EXPECT_EQ(hooks.autoLink, row.expectedLink) << (row.autoLink ? row.autoLink : "unset");
        EXPECT_EQ(hooks.dumpState, row.expectedDump) << (row.dumpState ? row.dumpState : "unset");
    }
    qunsetenv("NORVELA_AUTOLINK");
    qunsetenv("NORVELA_DUMP_STATE");
}

using DevelopmentHooksApplied = ModelFixture;

TEST_F(DevelopmentHooksApplied, AutoLinkOnlyWithoutAccountsAndDumpStateSchedulesTheDump) {
    AppModel& unlinked = makeModel();
    EXPECT_TRUE((DevelopmentHooks{ProviderKind::googleDrive, false}.apply(unlinked)));
    EXPECT_TRUE(unlinked.isLinking() || unlinked.linkError()); // waits for the browser, or the port was taken

    link(CloudTokenStore::dropbox(), QStringLiteral("dbid:1"), QStringLiteral("d@example.com"));
    AppModel& linked = makeModel();
    EXPECT_TRUE((DevelopmentHooks{ProviderKind::dropbox, false}.apply(linked)));
    EXPECT_FALSE(linked.isLinking());

    // Dumping the state schedules the dump (its timing and text are the model's own tests).
    const QString dump = AppSupport::devHookDirectory() + QStringLiteral("/state-dump.txt");
    QFile::remove(dump);
    EXPECT_FALSE((DevelopmentHooks{std::nullopt, true}.apply(linked)));
    clock.advance(8s);
    EXPECT_TRUE(QFile::exists(dump));
}
