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
    QByteArray asideContent(const QString& name) const {
        return test::readFile(QFileInfo(indexFile()).path() + "/" + name);
    }
    // Ann's index with one file, folded: the file holds it and no journal is left.
    void foldFirstFile(SyncIndex& index) {
        index.setOwner(ann);
        index.set(QStringLiteral("a"), record(1));
        ASSERT_TRUE(index.fold());
    }
    QString journalFile() const { return indexFile() + ".journal"; }
    QJsonObject fileObject() const { return QJsonDocument::fromJson(test::readFile(indexFile())).object(); }
    // The file alone, as a build without the journal would read it.
    SyncIndex::Entries decodedFile(AccountIdentity* owner = nullptr) const {
        return SyncIndex::decode(test::readFile(indexFile()), owner).value_or(SyncIndex::Entries{{"?", {}}});
    }

    const AccountIdentity ann{QStringLiteral("dbid:A"), QStringLiteral("a@example.com")};
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
    EXPECT_FALSE(QFile::exists(indexFile())); // journaled until folded
    EXPECT_EQ(test::fileMode(journalFile()), 0600);
    SyncIndexEntry unsettled = record(8, std::nullopt);
    unsettled.stampSettled = false;
    index.set(QStringLiteral("unsettled"), unsettled);
    index.set(QStringLiteral("without"), {9, std::nullopt, QStringLiteral("h"), std::nullopt, utc(-750)});
    ASSERT_TRUE(index.fold());
    EXPECT_EQ(test::fileMode(indexFile()), 0600);
    EXPECT_FALSE(QFile::exists(journalFile()));

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
    SyncIndex more(QStringLiteral("acct"));
    more.set(QStringLiteral("c"), record(3));
    ASSERT_TRUE(more.fold()); // what was loaded is written back too
    EXPECT_EQ(decodedFile().size(), 4);
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
    ASSERT_TRUE(index.fold());
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
        EXPECT_EQ(test::readFile(indexFile()), bytes); // a change is journaled beside it
        ASSERT_TRUE(index.fold());
        EXPECT_EQ(fileObject().value("files").toObject().keys(), QStringList{"new"});
        const QStringList aside = asideFiles(indexFile());
        ASSERT_EQ(aside.size(), 1);
        EXPECT_TRUE(aside[0].startsWith("acct.json.damaged-")) << aside[0].toStdString();
        EXPECT_EQ(asideContent(aside[0]), bytes);
    }
}

TEST_F(SyncIndexTest, AnIndexSetAsideStartsEmptyAndKeepsTheOldFileWithItsJournal) {
    SyncIndex before(QStringLiteral("acct"));
    before.setOwner({QStringLiteral("dbid:A"), QStringLiteral("a@example.com")});
    before.set(QStringLiteral("a.txt"), record(1));
    ASSERT_TRUE(before.fold());
    before.set(QStringLiteral("a2.txt"), record(2));
    const QByteArray written = test::readFile(indexFile());
    const QByteArray journaled = test::readFile(journalFile());

    SyncIndex index(QStringLiteral("acct"));
    EXPECT_EQ(index.entries().size(), 2);
    index.setAside(QStringLiteral("other-account"));
    EXPECT_TRUE(index.entries().isEmpty());
    EXPECT_TRUE(index.owner().isEmpty());
    // Gone at once: nobody reads them as this account's.
    EXPECT_FALSE(QFile::exists(indexFile()));
    EXPECT_FALSE(QFile::exists(journalFile()));
    const QStringList aside = asideFiles(indexFile());
    ASSERT_EQ(aside.size(), 2);
    EXPECT_TRUE(aside[0].startsWith("acct.json.journal.other-account-"));
    EXPECT_EQ(asideContent(aside[0]), journaled);
    EXPECT_TRUE(aside[1].startsWith("acct.json.other-account-"));
    EXPECT_EQ(asideContent(aside[1]), written);

    index.setOwner({QStringLiteral("dbid:B"), QStringLiteral("b@example.com")});
    index.set(QStringLiteral("b.txt"), record(2));
    const SyncIndex reloaded(QStringLiteral("acct"));
    EXPECT_EQ(reloaded.entries().keys(), QStringList{"b.txt"});
    EXPECT_EQ(reloaded.owner().uid, "dbid:B");
}

TEST_F(SyncIndexTest, AJournalLeftByACrashIsAppliedAndItsTornLastLineIgnored) {
    {
        SyncIndex index(QStringLiteral("acct"));
        foldFirstFile(index);
        index.set(QStringLiteral("a"), record(2)); // the later line wins
        index.set({{QStringLiteral("b"), record(3)}, {QStringLiteral("c"), record(4)}});
        index.setOwner({ann.uid, QStringLiteral("new@example.com")});
    } // killed: never folded
    const SyncIndex::Entries expected{{"a", record(2)}, {"b", record(3)}, {"c", record(4)}};
    EXPECT_EQ(decodedFile(), (SyncIndex::Entries{{"a", record(1)}}));
    EXPECT_EQ(SyncIndexJournal::readLines(journalFile()).size(), 3);

    // Power lost in the middle of the next line: everything before it still counts.
    const QByteArray next = SyncIndex::encode({{"d", record(5)}}, ann);
    QFile journal(journalFile());
    ASSERT_TRUE(journal.open(QIODevice::Append));
    journal.write(next.left(next.size() / 2));
    journal.close();
    SyncIndex index(QStringLiteral("acct"));
    EXPECT_EQ(index.entries(), expected);
    EXPECT_EQ(index.owner().email, "new@example.com");

    // The next change goes on a line of its own, not onto the torn one.
    index.set(QStringLiteral("e"), record(6));
    EXPECT_EQ(SyncIndex(QStringLiteral("acct")).entry(QStringLiteral("e")), record(6));
    ASSERT_TRUE(index.fold());
    EXPECT_FALSE(QFile::exists(journalFile()));
    EXPECT_EQ(test::readFile(indexFile()), SyncIndex::encode(index.entries(), index.owner()));
    EXPECT_EQ(SyncIndex(QStringLiteral("acct")).entries(), index.entries());
}

TEST_F(SyncIndexTest, AJournalOfAnotherAccountIsNeverAppliedButKeptAside) {
    {
        SyncIndex first(QStringLiteral("acct"));
        foldFirstFile(first);
    }
    // Written under the same name for someone else, by a build that knew no journal.
    const QByteArray bob =
        SyncIndex::encode({{"b", record(2)}}, {QStringLiteral("dbid:B"), QString()}) + "\n";
    test::writeFile(journalFile(), bob);

    SyncIndex index(QStringLiteral("acct"));
    EXPECT_EQ(index.entries().keys(), QStringList{"a"});
    EXPECT_EQ(index.owner(), ann);
    index.set(QStringLiteral("c"), record(3)); // never added to that journal
    ASSERT_TRUE(index.fold());
    EXPECT_EQ(decodedFile(), (SyncIndex::Entries{{"a", record(1)}, {"c", record(3)}}));
    const QStringList aside = asideFiles(indexFile());
    ASSERT_EQ(aside.size(), 1);
    EXPECT_TRUE(aside[0].startsWith("acct.json.journal.other-account-"));
    EXPECT_EQ(asideContent(aside[0]), bob);
}

TEST_F(SyncIndexTest, ChangesWhileAFoldIsWrittenAreKept) {
    SyncIndex index(QStringLiteral("acct"));
    index.set(QStringLiteral("a"), record(1));
    std::optional<SyncIndex::Fold> fold = index.beginFold();
    ASSERT_TRUE(fold);
    EXPECT_FALSE(index.beginFold()); // one at a time
    index.set(QStringLiteral("b"), record(2));
    ASSERT_TRUE(fold->run());
    index.endFold(true);
    EXPECT_EQ(decodedFile().keys(), QStringList{"a"}); // the file as it was when the fold began
    EXPECT_EQ(SyncIndex(QStringLiteral("acct")).entries(), index.entries());

    // A fold that fails leaves its journal, which the next one covers with the rest.
    fold = index.beginFold();
    ASSERT_TRUE(fold);
    {
        test::FileSizeLimit full(10);
        EXPECT_FALSE(fold->run());
    }
    index.endFold(false);
    index.set(QStringLiteral("c"), record(3));
    EXPECT_EQ(SyncIndex(QStringLiteral("acct")).entries(), index.entries());
    fold = index.beginFold();
    ASSERT_TRUE(fold && fold->run());
    index.endFold(true);
    EXPECT_EQ(test::readFile(indexFile()), SyncIndex::encode(index.entries()));
    EXPECT_EQ(SyncIndex(QStringLiteral("acct")).entries(), index.entries());

    // A fold that a later load overtook (the engine gone, another started) must not put the
    // file back as it was.
    index.set(QStringLiteral("d"), record(4));
    fold = index.beginFold();
    ASSERT_TRUE(fold);
    index.set(QStringLiteral("e"), record(5));
    SyncIndex reloaded(QStringLiteral("acct"));
    ASSERT_TRUE(reloaded.fold());
    EXPECT_TRUE(fold->run());
    index.endFold(true);
    EXPECT_EQ(decodedFile(), index.entries());
    EXPECT_TRUE(asideFiles(indexFile()).isEmpty());
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

TEST_F(SyncIndexTest, AChangeThatCouldNotBeJournaledIsWrittenByTheNextFold) {
    SyncIndex index(QStringLiteral("acct"));
    index.set(QStringLiteral("first"), record(1));
    {
        // The journal cannot grow: the line is cut short.
        test::FileSizeLimit limit(QFileInfo(journalFile()).size() + 20);
        index.set(QStringLiteral("second"), record(2));
    }
    EXPECT_EQ(index.entry(QStringLiteral("second")), record(2));
    EXPECT_EQ(SyncIndex(QStringLiteral("acct")).entries().keys(), QStringList{"first"});
    index.set(QStringLiteral("third"), record(3)); // on a line of its own
    EXPECT_EQ(SyncIndex(QStringLiteral("acct")).entries().size(), 2);
    ASSERT_TRUE(index.fold());
    EXPECT_EQ(SyncIndex(QStringLiteral("acct")).entries(), index.entries());
}

} // namespace
