#include "sync/SyncIndex.h"

#include "TestSupport.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace norvela;

namespace {

QDateTime utc(qint64 msecsSince2001) {
    return QDateTime::fromMSecsSinceEpoch(978307200000 + msecsSince2001, Qt::UTC);
}

// Nanosecond times past 2^53, which a double would round.
constexpr qint64 mtimeNs = 1'700'000'000'123'456'789;

SyncIndexEntry record(qint64 size, std::optional<QString> rev = QStringLiteral("rev1")) {
    return {size, FileStamp{size, mtimeNs, mtimeNs + 1}, QStringLiteral("hash%1").arg(size), std::move(rev),
            utc(86'400'250)};
}

QStringList asideFiles(const QString& indexFile) {
    return QDir(QFileInfo(indexFile).path())
        .entryList({QFileInfo(indexFile).fileName() + ".*"}, QDir::Files, QDir::Name);
}

class SyncIndexTest : public ::testing::Test {
protected:
    void SetUp() override { qputenv("NORVELA_APP_SUPPORT_DIR", (m_dir.path() + "/support").toUtf8()); }
    void TearDown() override { qunsetenv("NORVELA_APP_SUPPORT_DIR"); }
    QString indexFile() const { return m_dir.path() + "/support/index/acct.json"; }
    QJsonObject fileObject() const { return QJsonDocument::fromJson(test::readFile(indexFile())).object(); }

    QTemporaryDir m_dir;
};

TEST_F(SyncIndexTest, WritesCompactObjectWithItsOwnerAndExactStamps) {
    SyncIndex index(QStringLiteral("acct"));
    EXPECT_EQ(index.fileURL(), indexFile()); // no "Norvela" component below the override
    EXPECT_TRUE(QFileInfo(QFileInfo(indexFile()).path()).isDir());
    // The index lists the user's file names: its folders are the user's alone.
    EXPECT_EQ(test::fileMode(m_dir.path() + "/support"), 0700);
    EXPECT_EQ(test::fileMode(m_dir.path() + "/support/index"), 0700);
    EXPECT_FALSE(QFile::exists(indexFile())); // until the first set
    EXPECT_TRUE(index.entries().isEmpty());
    index.setOwner({QStringLiteral("dbid:1"), QStringLiteral("ann@example.com")});
    index.set(QStringLiteral("with"), record(6));
    index.set(QStringLiteral("with"), record(7));
    EXPECT_EQ(test::fileMode(indexFile()), 0600);
    SyncIndexEntry unsettled = record(8, std::nullopt);
    unsettled.stampSettled = false;
    index.set(QStringLiteral("unsettled"), unsettled);
    index.set(QStringLiteral("without"), {9, std::nullopt, QStringLiteral("h"), std::nullopt, utc(-750)});

    const QByteArray bytes = test::readFile(indexFile());
    EXPECT_FALSE(bytes.contains(' ') || bytes.contains('\n')) << bytes.constData();
    const QJsonObject root = fileObject();
    EXPECT_EQ(root.keys(), (QStringList{"files", "format", "owner"}));
    EXPECT_EQ(root.value("format").toInt(), 2);
    EXPECT_EQ(root.value("owner").toObject(), (QJsonObject{{"uid", "dbid:1"}, {"email", "ann@example.com"}}));
    const QJsonObject files = root.value("files").toObject();
    const QJsonObject with = files.value("with").toObject();
    EXPECT_EQ(with.keys(), (QStringList{"contentHash", "ctimeNs", "mtimeNs", "rev", "size", "syncedAt"}));
    EXPECT_EQ(with.value("size").toInteger(), 7);
    EXPECT_EQ(with.value("mtimeNs").toInteger(), mtimeNs);
    EXPECT_EQ(with.value("ctimeNs").toInteger(), mtimeNs + 1);
    EXPECT_EQ(with.value("syncedAt").toDouble(), 86400.25);
    EXPECT_EQ(with.value("rev").toString(), "rev1");
    EXPECT_TRUE(files.value("unsettled").toObject().value("unsettled").toBool());
    const QJsonObject without = files.value("without").toObject();
    EXPECT_EQ(without.keys(), (QStringList{"contentHash", "size", "syncedAt"}));
    EXPECT_EQ(without.value("syncedAt").toDouble(), -0.75);

    const SyncIndex reloaded(QStringLiteral("acct"));
    EXPECT_EQ(reloaded.origin(), SyncIndex::Origin::loaded);
    EXPECT_EQ(reloaded.entries(), index.entries());
    EXPECT_EQ(reloaded.owner(), index.owner());
    SyncIndex(QStringLiteral("acct"))
        .set(QStringLiteral("c"), record(3)); // what was loaded is written back too
    EXPECT_EQ(SyncIndex(QStringLiteral("acct")).entries().size(), 4);
    // A stamp that does not describe the recorded size cannot vouch for it.
    SyncIndexEntry mismatched = record(10);
    mismatched.stamp->size = 11;
    index.set(QStringLiteral("mismatched"), mismatched);
    EXPECT_EQ(index.entry(QStringLiteral("mismatched"))->stamp, std::nullopt);
}

TEST_F(SyncIndexTest, AnIndexOfTheFirstFormatLoadsWithEveryEntryLeftToHashing) {
    // Leniently: extra keys, whole numbers written as decimals, sizes past 2^53 (no double).
    const QByteArray first =
        R"({"a.txt":{"size":5,"mtime":12.5,"contentHash":"h1","rev":"r1","syncedAt":-1.5,"extra":1},)"
        R"("files":{"size":2.0,"mtime":1e3,"contentHash":"h2","syncedAt":0},)"
        R"("big":{"size":9007199254740993,"mtime":0,"contentHash":"","syncedAt":0}})";
    test::writeFile(indexFile(), first);
    SyncIndex index(QStringLiteral("acct"));
    EXPECT_EQ(index.origin(), SyncIndex::Origin::loaded);
    EXPECT_TRUE(index.owner().isEmpty());
    ASSERT_EQ(index.entries().size(), 3);
    EXPECT_EQ(index.entry(QStringLiteral("a.txt")),
              (SyncIndexEntry{5, std::nullopt, QStringLiteral("h1"), QStringLiteral("r1"), utc(-1500)}));
    EXPECT_EQ(index.entry(QStringLiteral("files"))->size, 2); // a file so named is just a file there
    EXPECT_EQ(index.entry(QStringLiteral("big"))->size, 9007199254740993);

    // The next write keeps every entry, in the current format.
    index.set(QStringLiteral("b.txt"), record(3));
    EXPECT_EQ(fileObject().value("format").toInt(), 2);
    EXPECT_EQ(SyncIndex(QStringLiteral("acct")).entries().size(), 4);
    EXPECT_TRUE(asideFiles(indexFile()).isEmpty());
}

TEST(SyncIndexCoding, DecodesTheCurrentFormatWithoutAnOwner) {
    AccountIdentity owner{QStringLiteral("stale"), QString()};
    const auto current = SyncIndex::decode(
        R"({"format":2,"files":{"r":{"size":1,"mtimeNs":9007199254740993,"ctimeNs":-5,"contentHash":"h",)"
        R"("syncedAt":0,"unsettled":false}}})",
        &owner);
    ASSERT_TRUE(current);
    EXPECT_EQ(current->value("r").stamp, (FileStamp{1, 9007199254740993, -5}));
    EXPECT_TRUE(current->value("r").stampSettled);
    EXPECT_TRUE(owner.isEmpty()); // no owner recorded: nobody known
}

TEST_F(SyncIndexTest, DamagedFileLoadsEmptyAndIsMovedAsideNeverWrittenOver) {
    const QByteArray good = R"("ok":{"size":1,"mtime":0,"contentHash":"h","syncedAt":0})";
    const QByteArray goodCurrent =
        R"("ok":{"size":1,"mtimeNs":1,"ctimeNs":2,"contentHash":"h","syncedAt":0})";
    const QByteArray cases[] = {
        R"({"x":{"size":1,"mtime":0,"contentHash":"h"}})",
        R"({"x":{"size":"1","mtime":0,"contentHash":"h","syncedAt":0}})",
        R"({"x":{"size":1.5,"mtime":0,"contentHash":"h","syncedAt":0}})",
        R"({"x":{"size":1e30,"mtime":0,"contentHash":"h","syncedAt":0}})",
        R"({"x":{"size":-1,"mtime":0,"contentHash":"h","syncedAt":0}})",
        R"({"x":{"size":1,"mtime":"0","contentHash":"h","syncedAt":0}})",
        R"({"x":{"size":1,"mtime":0,"contentHash":5,"syncedAt":0}})",
        R"({"x":{"size":1,"mtime":0,"contentHash":"h","rev":null,"syncedAt":0}})",
        R"({"x":[]})",
        R"([{"size":1}])",
        "not json",
        "",
        // The current format: a stamp is whole or absent, and a later format is not guessed at.
        R"({"format":2,"files":{"x":{"size":1,"mtimeNs":1,"contentHash":"h","syncedAt":0},)" + goodCurrent +
            "}}",
        R"({"format":2,"files":{"x":{"size":1,"mtimeNs":1,"ctimeNs":1.5,"contentHash":"h","syncedAt":0}}})",
        R"({"format":2,"files":{"x":{"size":1,"unsettled":true,"contentHash":"h","syncedAt":0}}})",
        R"({"format":2,"files":{"x":{"size":1,"mtimeNs":1,"ctimeNs":1,"unsettled":1,"contentHash":"h","syncedAt":0}}})",
        R"({"format":2,"owner":"ann","files":{}})",
        R"({"format":2,"owner":{"uid":1,"email":""},"files":{}})",
        R"({"format":2,"files":[]})",
        R"({"format":3,"files":{}})",
    };
    for (const QByteArray& damaged : cases) {
        SCOPED_TRACE(damaged.toStdString());
        for (const QString& aside : asideFiles(indexFile()))
            QFile::remove(QFileInfo(indexFile()).path() + "/" + aside);
        // The bad entry sits beside a good one: one bad entry anywhere empties the load.
        const QByteArray bytes = damaged.startsWith("{\"x\"") ? "{" + good + "," + damaged.mid(1) : damaged;
        test::writeFile(indexFile(), bytes);
        SyncIndex index(QStringLiteral("acct"));
        EXPECT_TRUE(index.entries().isEmpty());
        EXPECT_EQ(index.origin(), SyncIndex::Origin::damaged);
        EXPECT_EQ(test::readFile(indexFile()), bytes);

        index.set(QStringLiteral("new"), record(3));
        EXPECT_EQ(fileObject().value("files").toObject().keys(), QStringList{"new"});
        const QStringList aside = asideFiles(indexFile());
        ASSERT_EQ(aside.size(), 1);
        EXPECT_TRUE(aside[0].startsWith("acct.json.damaged-")) << aside[0].toStdString();
        EXPECT_EQ(test::readFile(QFileInfo(indexFile()).path() + "/" + aside[0]), bytes);
    }
}

TEST_F(SyncIndexTest, AnIndexSetAsideStartsEmptyAndKeepsTheOldFile) {
    SyncIndex before(QStringLiteral("acct"));
    before.setOwner({QStringLiteral("dbid:A"), QStringLiteral("a@example.com")});
    before.set(QStringLiteral("a.txt"), record(1));
    const QByteArray written = test::readFile(indexFile());

    SyncIndex index(QStringLiteral("acct"));
    index.setAside(QStringLiteral("other-account"));
    EXPECT_TRUE(index.entries().isEmpty());
    EXPECT_TRUE(index.owner().isEmpty());
    EXPECT_FALSE(QFile::exists(indexFile())); // gone at once: nobody reads it as this account's
    const QStringList aside = asideFiles(indexFile());
    ASSERT_EQ(aside.size(), 1);
    EXPECT_TRUE(aside[0].startsWith("acct.json.other-account-"));
    EXPECT_EQ(test::readFile(QFileInfo(indexFile()).path() + "/" + aside[0]), written);

    index.setOwner({QStringLiteral("dbid:B"), QStringLiteral("b@example.com")});
    index.set(QStringLiteral("b.txt"), record(2));
    const SyncIndex reloaded(QStringLiteral("acct"));
    EXPECT_EQ(reloaded.entries().keys(), QStringList{"b.txt"});
    EXPECT_EQ(reloaded.owner().uid, "dbid:B");
}

TEST(AccountIdentity, OnlyWhatBothSidesKnowCanTellAccountsApart) {
    const AccountIdentity a{QStringLiteral("dbid:A"), QStringLiteral("a@example.com")};
    EXPECT_TRUE(a.contradicts({QStringLiteral("dbid:B"), QStringLiteral("a@example.com")}));
    // The id outranks the address, which its owner may change.
    EXPECT_FALSE(a.contradicts({QStringLiteral("dbid:A"), QStringLiteral("new@example.com")}));
    EXPECT_FALSE(a.contradicts({QString(), QStringLiteral("A@Example.com")}));
    EXPECT_TRUE(a.contradicts({QString(), QStringLiteral("b@example.com")}));
    EXPECT_FALSE(a.contradicts({}));
    EXPECT_FALSE(AccountIdentity{}.contradicts(a));
    EXPECT_EQ(a.mergedWith({QString(), QStringLiteral("new@example.com")}),
              (AccountIdentity{QStringLiteral("dbid:A"), QStringLiteral("new@example.com")}));
}

TEST_F(SyncIndexTest, AwkwardPathsAndDatesSurviveARoundTrip) {
    SyncIndex::Entries entries;
    const QString awkward[] = {
        "quo\"te", "back\\slash", "new\nline",   "tab\there", QString(QChar(1)) + "ctl\x1f\x7f",
        "emoji 😀", "a/b/c",       "Été/naïve ü", "\r\b\f",    QString(40, QChar(1))};
    QStringList paths;
    for (const QString& path : awkward) // long forms put the odd character mid-block for the bulk copy
        paths << path << "folder/sub/" + path + " and some more";
    qint64 ms = -978307200000; // the Unix epoch
    for (const QString& path : paths) {
        SyncIndexEntry entry = record(std::llabs(ms), path); // escaping applies to values too
        entry.stamp = FileStamp{std::llabs(ms), ms * 1'000'003 + 7, -ms};
        entry.stampSettled = ms % 2 == 0;
        entry.syncedAt = QDateTime::fromMSecsSinceEpoch(ms += 123'456'789'001, Qt::LocalTime);
        entries.insert(path, entry);
    }
    const AccountIdentity owner{QStringLiteral("quo\"te\n"), QStringLiteral("Été@example.com")};
    AccountIdentity decodedOwner;
    EXPECT_EQ(SyncIndex::decode(SyncIndex::encode(entries, owner), &decodedOwner), entries);
    EXPECT_EQ(decodedOwner, owner);

    SyncIndex index(QStringLiteral("acct"));
    for (auto it = entries.constBegin(); it != entries.constEnd(); ++it)
        index.set(it.key(), it.value());
    EXPECT_EQ(SyncIndex(QStringLiteral("acct")).entries(), entries);
}

TEST_F(SyncIndexTest, FailedWriteKeepsTheChangeForTheNextWrite) {
    // A directory in the file's place makes the rename fail, for root too.
    ASSERT_TRUE(QDir().mkpath(indexFile()));
    SyncIndex index(QStringLiteral("acct"));
    index.set(QStringLiteral("first"), record(1));
    EXPECT_EQ(index.entry(QStringLiteral("first")), record(1));

    ASSERT_TRUE(QDir(indexFile()).removeRecursively());
    index.set(QStringLiteral("second"), record(2));
    EXPECT_EQ(SyncIndex(QStringLiteral("acct")).entries().size(), 2);
}

} // namespace
