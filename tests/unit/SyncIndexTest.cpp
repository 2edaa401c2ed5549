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

SyncIndexEntry record(qint64 size, std::optional<QString> rev = QStringLiteral("rev1")) {
    return {size, utc(1500), QStringLiteral("hash%1").arg(size), std::move(rev), utc(86'400'250)};
}

class SyncIndexTest : public ::testing::Test {
protected:
    void SetUp() override { qputenv("NORVELA_APP_SUPPORT_DIR", (m_dir.path() + "/support").toUtf8()); }
    void TearDown() override { qunsetenv("NORVELA_APP_SUPPORT_DIR"); }
    QString indexFile() const { return m_dir.path() + "/support/index/acct.json"; }
    QJsonObject fileObject() const { return QJsonDocument::fromJson(test::readFile(indexFile())).object(); }

    QTemporaryDir m_dir;
};

TEST_F(SyncIndexTest, StartsEmptyAndFirstSetCreatesTheFileUnderTheSupportDirectory) {
    SyncIndex index(QStringLiteral("acct"));
    EXPECT_EQ(index.fileURL(), indexFile()); // no "Norvela" component below the override
    EXPECT_TRUE(QFileInfo(QFileInfo(indexFile()).path()).isDir());
    // The index lists the user's file names: its folders are the user's alone.
    const QFile::Permissions ownerOnlyDir = QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner |
                                            QFile::ReadUser | QFile::WriteUser | QFile::ExeUser;
    EXPECT_EQ(QFile::permissions(m_dir.path() + "/support"), ownerOnlyDir);
    EXPECT_EQ(QFile::permissions(m_dir.path() + "/support/index"), ownerOnlyDir);
    EXPECT_FALSE(QFile::exists(indexFile()));
    EXPECT_TRUE(index.entries().isEmpty());

    index.set(QStringLiteral("a/b.txt"), record(1));
    index.set(QStringLiteral("a/b.txt"), record(2));
    EXPECT_EQ(index.entry(QStringLiteral("a/b.txt")), record(2));
    SyncIndex reloaded(QStringLiteral("acct"));
    EXPECT_EQ(reloaded.entries(), index.entries());
    reloaded.set(QStringLiteral("c"), record(3)); // what was loaded is written back too
    EXPECT_EQ(SyncIndex(QStringLiteral("acct")).entries().size(), 2);
    EXPECT_EQ(QFile::permissions(indexFile()),
              QFile::ReadOwner | QFile::WriteOwner | QFile::ReadUser | QFile::WriteUser);
}

TEST_F(SyncIndexTest, WritesCompactObjectWithDatesCountedFrom2001AndNoRevWhenAbsent) {
    SyncIndex index(QStringLiteral("acct"));
    index.set(QStringLiteral("with"), record(7));
    index.set(QStringLiteral("without"), {9, utc(0), QStringLiteral("h"), std::nullopt, utc(-750)});

    const QByteArray bytes = test::readFile(indexFile());
    EXPECT_FALSE(bytes.contains(' ') || bytes.contains('\n')) << bytes.constData();
    const QJsonObject root = fileObject();
    const QJsonObject with = root.value("with").toObject();
    EXPECT_EQ(with.keys(), (QStringList{"contentHash", "mtime", "rev", "size", "syncedAt"}));
    EXPECT_EQ(with.value("size").toInteger(), 7);
    EXPECT_EQ(with.value("mtime").toDouble(), 1.5);
    EXPECT_EQ(with.value("syncedAt").toDouble(), 86400.25);
    EXPECT_EQ(with.value("rev").toString(), "rev1");
    const QJsonObject without = root.value("without").toObject();
    EXPECT_FALSE(without.contains("rev"));
    EXPECT_EQ(without.value("mtime").toDouble(), 0.0);
    EXPECT_EQ(without.value("syncedAt").toDouble(), -0.75);
}

TEST(SyncIndexCoding, DecodesLenientlyWhereTheFormatAllows) {
    const auto entries = SyncIndex::decode(
        R"({"p":{"size":9007199254740993,"mtime":0,"contentHash":"h","syncedAt":-1.5,"extra":1},)"
        R"("q":{"size":2.0,"mtime":1e3,"contentHash":"","syncedAt":0}})");
    ASSERT_TRUE(entries);
    const SyncIndexEntry p = entries->value("p");
    EXPECT_EQ(p.size, 9007199254740993); // above 2^53: must not pass through a double
    EXPECT_EQ(p.mtime, QDateTime(QDate(2001, 1, 1), QTime(0, 0), Qt::UTC));
    EXPECT_EQ(p.syncedAt, utc(-1500));
    EXPECT_FALSE(p.rev);
    EXPECT_EQ(entries->value("q").size, 2);
    EXPECT_EQ(entries->value("q").mtime, utc(1'000'000));
}

TEST_F(SyncIndexTest, DamagedFileLoadsEmptyAndStaysUntilTheNextSet) {
    const QByteArray good = R"("ok":{"size":1,"mtime":0,"contentHash":"h","syncedAt":0})";
    const QByteArray cases[] = {
        R"({"x":{"size":1,"mtime":0,"contentHash":"h"}})",
        R"({"x":{"size":"1","mtime":0,"contentHash":"h","syncedAt":0}})",
        R"({"x":{"size":1.5,"mtime":0,"contentHash":"h","syncedAt":0}})",
        R"({"x":{"size":1e30,"mtime":0,"contentHash":"h","syncedAt":0}})",
        R"({"x":{"size":1,"mtime":"0","contentHash":"h","syncedAt":0}})",
        R"({"x":{"size":1,"mtime":0,"contentHash":5,"syncedAt":0}})",
        R"({"x":{"size":1,"mtime":0,"contentHash":"h","rev":null,"syncedAt":0}})",
        R"({"x":[]})",
        R"([{"size":1}])",
        "not json",
        "",
    };
    for (const QByteArray& damaged : cases) {
        SCOPED_TRACE(damaged.toStdString());
        // The bad entry sits beside a good one: one bad entry anywhere empties the load.
        const QByteArray bytes = damaged.startsWith("{\"x\"") ? "{" + good + "," + damaged.mid(1) : damaged;
        test::writeFile(indexFile(), bytes);
        SyncIndex index(QStringLiteral("acct"));
        EXPECT_TRUE(index.entries().isEmpty());
        EXPECT_EQ(test::readFile(indexFile()), bytes);

        index.set(QStringLiteral("new"), record(3));
        EXPECT_EQ(fileObject().keys(), QStringList{"new"});
    }
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
        SyncIndexEntry entry = record(ms, path); // escaping applies to values too
        entry.mtime = utc(ms += 123'456'789'001);
        entry.syncedAt = QDateTime::fromMSecsSinceEpoch(entry.mtime.toMSecsSinceEpoch() + 999, Qt::LocalTime);
        entries.insert(path, entry);
    }
    EXPECT_EQ(SyncIndex::decode(SyncIndex::encode(entries)), entries);

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
