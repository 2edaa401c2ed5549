#include "common/SettingsStore.h"

#include "support/TestSupport.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace norvela;

namespace {

struct SettingsStoreTest : ::testing::Test {
    QTemporaryDir dir;
    QString path = dir.path() + "/Norvela/settings.json"; // the folder appears on the first write
    QStringList files() const { return QDir(dir.path() + "/Norvela").entryList(QDir::Files | QDir::Hidden); }
};

TEST_F(SettingsStoreTest, EachTypeRoundTripsThroughTheFile) {
    const QByteArray bytes("\0\x01\xff", 3);
    {
        SettingsStore store(path);
        store.setBool("launchAtLogin", false);
        store.setDouble("uploadLimitMBps", 2.5);
        store.setString("folderPath", "~/Nörvela");
        store.setData("schedule", bytes);
        store.setString("gone", "x");
        store.remove("gone");
    }
    SettingsStore store(path);
    EXPECT_EQ(store.boolValue("launchAtLogin"), false);
    EXPECT_EQ(store.doubleValue("uploadLimitMBps"), 2.5);
    EXPECT_EQ(store.stringValue("folderPath"), "~/Nörvela");
    EXPECT_EQ(store.dataValue("schedule"), bytes);
    EXPECT_FALSE(store.contains("gone"));
}

TEST_F(SettingsStoreTest, AValueOfAnotherTypeReadsAsAbsent) {
    test::writeFile(path,
                    R"({"launchAtLogin": "true", "b": false, "d": 3, "data": {"data": "aGk="}, "null": null,
        "list": [true], "obj": {"x": 1}, "dataPlus": {"data": "aGk=", "x": 1}, "badData": {"data": "!"}})");
    SettingsStore store(path);
    // Which getters answer for each key: bool, double, string, data.
    const std::pair<const char*, const char*> rows[] = {
        {"launchAtLogin", "..s."}, {"b", "b..."},      {"d", ".d.."},   {"data", "...D"},
        {"null", "...."},          {"list", "...."},   {"obj", "...."}, {"dataPlus", "...."},
        {"badData", "...."},       {"missing", "...."}};
    for (const auto& [key, expected] : rows) {
        const QString answers = QString() + (store.boolValue(key) ? 'b' : '.') +
                                (store.doubleValue(key) ? 'd' : '.') + (store.stringValue(key) ? 's' : '.') +
                                (store.dataValue(key) ? 'D' : '.');
        EXPECT_EQ(answers, expected) << key;
    }
}

TEST_F(SettingsStoreTest, ACorruptFileReadsAsEmptyAndIsKeptAsideOnTheNextWrite) {
    const QByteArray damaged[] = {"{\"folderPath\": \"~/A\"", "[1]"};
    for (const QByteArray& bytes : damaged) { // the second one within the same second
        test::writeFile(path, bytes);
        SettingsStore store(path);
        EXPECT_FALSE(store.stringValue("folderPath"));
        EXPECT_EQ(test::readFile(path), bytes); // reading alone changes nothing
        store.setBool("notifyOnChanges", false);
        EXPECT_EQ(SettingsStore(path).boolValue("notifyOnChanges"), false);
    }
    QList<QByteArray> kept;
    for (const QString& name : files())
        if (name != "settings.json")
            kept.append(test::readFile(dir.path() + "/Norvela/" + name));
    EXPECT_EQ(kept, (QList<QByteArray>{damaged[0], damaged[1]}));
}

// The app and the command-line tool each hold a store on the same file.
TEST_F(SettingsStoreTest, TwoInstancesOnOneFileKeepEachOthersKeys) {
    SettingsStore app(path), tool(path);
    app.setString("folderPath", "~/A");
    app.setBool("launchAtLogin", true);
    tool.setDouble("uploadLimitMBps", 1.0);
    app.remove("launchAtLogin");
    tool.setBool("notifyOnChanges", false); // tool's memory still has launchAtLogin: it must not come back

    SettingsStore fresh(path);
    EXPECT_EQ(fresh.stringValue("folderPath"), "~/A");
    EXPECT_EQ(fresh.doubleValue("uploadLimitMBps"), 1.0);
    EXPECT_FALSE(fresh.contains("launchAtLogin"));
    app.reload();
    EXPECT_EQ(app.boolValue("notifyOnChanges"), false);
}

TEST_F(SettingsStoreTest, AWriteReplacesTheFileRatherThanRewritingIt) {
    SettingsStore store(path);
    store.setString("folderPath", "~/Old");
    const QByteArray before = test::readFile(path);
    QFile reader(path); // opened before the write: must keep seeing the whole old file
    ASSERT_TRUE(reader.open(QIODevice::ReadOnly));
    store.setString("folderPath", "~/New");
    EXPECT_EQ(reader.readAll(), before);
    EXPECT_EQ(SettingsStore(path).stringValue("folderPath"), "~/New");
    EXPECT_EQ(files(), QStringList{"settings.json"}); // no temporary left behind
}

// The app watches the file; the command-line tool writes with a store of its own.
TEST_F(SettingsStoreTest, AWatchingStoreAnnouncesWhatOthersWriteNeverItsOwnAndKeepsTheLastGoodValues) {
    SettingsStore app(path), tool(path);
    app.setString("folderPath", "~/A");
    app.watch();
    QStringList announced;
    QObject::connect(&app, &SettingsStore::changedElsewhere,
                     [&](const QStringList& keys) { announced += keys; });
    auto announces = [&](const char* key) { return test::waitFor([&] { return announced.contains(key); }); };

    tool.setDouble("uploadLimitMBps", 1);
    app.setBool("launchAtLogin", false); // before the app noticed: its write takes the tool's value in
    ASSERT_TRUE(announces("uploadLimitMBps"));
    // An editor writing in place, into the file a rename put there after the watch began.
    test::writeFile(path, R"({"folderPath": "~/Edited", "launchAtLogin": false, "uploadLimitMBps": 1})");
    ASSERT_TRUE(announces("folderPath"));
    EXPECT_EQ(announced, (QStringList{"uploadLimitMBps", "folderPath"}));

    for (const char* damaged : {"", "{\"folderPath\": \"~/Ha", "[]"}) {
        test::writeFile(path, damaged);
        app.reload();
        EXPECT_EQ(app.stringValue("folderPath"), "~/Edited") << damaged;
    }
    app.setBool("notifyOnChanges", false); // written on the last good values, not on nothing
    EXPECT_EQ(SettingsStore(path).stringValue("folderPath"), "~/Edited");
    EXPECT_EQ(announced.size(), 2);
}

} // namespace
