#include "auth/CloudTokenStore.h"
#include "common/NorvelaError.h"

#include "support/TestSupport.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace norvela;

namespace {

struct CloudTokenStoreTest : ::testing::Test {
    void SetUp() override { qputenv("NORVELA_APP_SUPPORT_DIR", dir.path().toUtf8()); }
    void TearDown() override { qunsetenv("NORVELA_APP_SUPPORT_DIR"); }

    // The records as the file holds them, parsed without the store's help.
    QList<TokenSlot> onDisk() const {
        QList<TokenSlot> slots;
        for (const QJsonValue& v :
             QJsonDocument::fromJson(test::readFile(path)).object()["accounts"].toArray()) {
            const QJsonObject o = v.toObject();
            slots.append({o["uid"].toString(), o["email"].toString(), o["refreshToken"].toString(),
                          o["storageKey"].toString()});
        }
        return slots;
    }
    QStringList files() const { return QDir(dir.path()).entryList(QDir::Files | QDir::Hidden); }

    QTemporaryDir dir;
    QString path = dir.path() + "/dropbox-credentials.json";
    CloudTokenStore store = CloudTokenStore::dropbox();
};

TEST_F(CloudTokenStoreTest, ALegacyFileIsOneAccountUntilItsIdentityIsKnown) {
    EXPECT_TRUE(store.load().isEmpty());
    store.remove("dropbox");
    EXPECT_TRUE(files().isEmpty());

    test::writeFile(path, R"({"refreshToken":"old"})");
    QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup | QFile::ReadOther);
    EXPECT_EQ(store.load(), (QList<TokenSlot>{{"", "", "old", "dropbox"}}));
    EXPECT_EQ(store.resolveIdentity("dropbox-x", "x", ""), std::nullopt);
    EXPECT_EQ(test::readFile(path), R"({"refreshToken":"old"})"); // neither call wrote

    const TokenSlot resolved{"dbid:1", "a@x.com", "old", "dropbox"};
    EXPECT_EQ(store.resolveIdentity("dropbox", "dbid:1", "a@x.com"), resolved);
    EXPECT_EQ(onDisk(), QList<TokenSlot>{resolved});
    EXPECT_EQ(test::fileMode(path), 0600);
}

TEST_F(CloudTokenStoreTest, UpsertChoosesKeysAndUpdatesAKnownUidInPlace) {
    const TokenSlot noUid = store.upsert("", "", "t1");
    const TokenSlot b = store.upsert("dbid:BB", "b@x.com", "t2");
    const TokenSlot noUidAgain = store.upsert("", "", "t3"); // an empty uid never matches
    EXPECT_EQ(noUid.storageKey, "dropbox");
    EXPECT_EQ(b.storageKey, "dropbox-dbid-BB");
    EXPECT_EQ(noUidAgain.storageKey, "dropbox-");
    // Keys stay unique even where the naming rule would repeat one.
    EXPECT_EQ(store.upsert("", "", "t5").storageKey, "dropbox--2");
    EXPECT_EQ(store.upsert("dbid.BB", "c@x.com", "t6").storageKey, "dropbox-dbid-BB-2");
    store.remove("dropbox--2");
    store.remove("dropbox-dbid-BB-2");

    const TokenSlot relinked{"dbid:BB", "new@x.com", "t4", "dropbox-dbid-BB"};
    EXPECT_EQ(store.upsert("dbid:BB", "new@x.com", "t4"), relinked);
    EXPECT_EQ(onDisk(), (QList<TokenSlot>{noUid, relinked, noUidAgain}));
    EXPECT_EQ(store.load(), onDisk());
}

TEST_F(CloudTokenStoreTest, RemovingTheLastAccountDeletesTheFileAndFreesThePlainKey) {
    store.upsert("u1", "", "t1");
    store.upsert("u2", "", "t2");
    store.remove("dropbox");
    EXPECT_EQ(store.upsert("u3", "", "t3").storageKey, "dropbox");
    store.remove("dropbox");
    store.remove("dropbox-u2");
    EXPECT_TRUE(files().isEmpty());
    EXPECT_EQ(store.upsert("u2", "", "t4").storageKey, "dropbox");
}

TEST_F(CloudTokenStoreTest, ResolveIdentityKeepsAKnownEmailAndDropsOlderRecordsOfTheUid) {
    store.upsert("dbid:1", "old@x.com", "t1");
    const TokenSlot other = store.upsert("dbid:2", "", "t2");
    store.upsert("", "kept@x.com", "t3");
    const TokenSlot resolved{"dbid:1", "kept@x.com", "t3", "dropbox-"};
    EXPECT_EQ(store.resolveIdentity("dropbox-", "dbid:1", "new@x.com"), resolved);
    EXPECT_EQ(onDisk(), (QList<TokenSlot>{other, resolved}));
    EXPECT_EQ(store.resolveIdentity(other.storageKey, "dbid:2", "two@x.com")->email, "two@x.com");
}

TEST_F(CloudTokenStoreTest, ForeignOrDamagedJsonIsNoAccountsAndIsKeptAsideOnTheNextWrite) {
    const QByteArray foreign[] = {
        R"([{"refreshToken":"t"}])",
        R"({"accounts":[{"uid":"u","email":"e","refreshToken":"t","storageKey":"k"},{"uid":"u2","email":"e"}]})",
        R"({"accounts":[{"uid":"u","email":"e","refreshToken":5,"storageKey":"k"}]})",
        R"({"refreshToken":42})",
        "{\"accounts\":[{\"uid\":",
    };
    for (const QByteArray& bytes : foreign) {
        test::writeFile(path, bytes);
        EXPECT_TRUE(store.load().isEmpty()) << bytes.constData();
    }
    test::writeFile(
        path, R"({"v":2,"accounts":[{"uid":"u","email":"e","refreshToken":"t","storageKey":"k","x":1}]})");
    EXPECT_EQ(store.load(), (QList<TokenSlot>{{"u", "e", "t", "k"}})); // unknown keys are ignored

    for (const QByteArray& bytes : {foreign[0], foreign[4]}) { // twice within one second
        test::writeFile(path, bytes);
        const TokenSlot added = store.upsert("u", "", "t");
        EXPECT_EQ(onDisk(), QList<TokenSlot>{added});
    }
    QList<QByteArray> kept;
    for (const QString& name : files())
        if (name != "dropbox-credentials.json") {
            kept.append(test::readFile(dir.path() + "/" + name));
            EXPECT_EQ(test::fileMode(dir.path() + "/" + name), 0600) << name.toStdString();
        }
    EXPECT_EQ(kept, (QList<QByteArray>{foreign[0], foreign[4]}));
}

TEST(CloudTokenStoreSanitize, KeepsLettersAndNumbersAndDashesTheRest) {
    const std::pair<const char*, const char*> rows[] = {{"dbid:AAH4f99", "dbid-AAH4f99"},
                                                        {"a..b", "a--b"},
                                                        {"..:a b!!", "a-b"},
                                                        {"", ""},
                                                        {"---", ""},
                                                        {"Jürgen_Ñandú٣", "Jürgen-Ñandú٣"},
                                                        {"user😀id", "user-id"},
                                                        {"a🇩🇪b", "a-b"},
                                                        {"e\u0301x", "e\u0301x"},
                                                        {"CaSe123", "CaSe123"}};
    for (const auto& [in, out] : rows)
        EXPECT_EQ(CloudTokenStore::sanitize(QString::fromUtf8(in)), QString::fromUtf8(out)) << in;
}

} // namespace

TEST_F(CloudTokenStoreTest, AWriteThatFailsSaysWhyAndLeavesEveryStoredAccount) {
    const TokenSlot first = store.upsert("dbid:1", "a@x.com", "t1");
    const QByteArray before = test::readFile(path);
    {
        const test::FileSizeLimit limit(before.size() + 10); // room for the old file, not for two accounts
        try {
            store.upsert("dbid:2", "b@x.com", "t2");
            ADD_FAILURE() << "the write did not fail";
        } catch (const NorvelaError& error) {
            EXPECT_EQ(error.description(), "File too large (" + path + ")");
        }
        EXPECT_THROW(store.resolveIdentity("dropbox", "dbid:1-renamed-to-something-much-longer", "x"),
                     NorvelaError);
    }
    EXPECT_EQ(test::readFile(path), before);
    EXPECT_EQ(store.load(), QList<TokenSlot>{first});
    EXPECT_EQ(files(), QStringList{"dropbox-credentials.json"}); // no temporary file left behind
    EXPECT_EQ(test::fileMode(path), 0600);
}
