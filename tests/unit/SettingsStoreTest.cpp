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

// The app watches; the command-line tool writes with a store of its own.
struct WatchedSettingsStoreTest : SettingsStoreTest {
    WatchedSettingsStoreTest() {
        app.setString("folderPath", "~/A");
        app.setDouble("uploadLimitMBps", 1.0);
        app.watch();
        QObject::connect(&app, &SettingsStore::changedElsewhere,
                         [this](const QStringList& keys) { announced += keys; });
    }
    // Waits until `key` is announced: every write made before it has then been read back.
    bool announces(const QString& key) {
        return test::waitFor([&] { return announced.contains(key); });
    }
    SettingsStore app{path};
    QStringList announced; // each batch sorted, batches in order
};

TEST_F(WatchedSettingsStoreTest, AnotherWritersChangesAreAnnouncedOnceAndOwnWritesNever) {
    SettingsStore tool(path);
    tool.setString("folderPath", "~/B");
    tool.remove("uploadLimitMBps");
    tool.setString("folderPath", "~/B"); // the same value again is no change
    ASSERT_TRUE(announces("uploadLimitMBps"));
    EXPECT_EQ(app.stringValue("folderPath"), "~/B");
    EXPECT_FALSE(app.contains("uploadLimitMBps"));

    // The tool writes, then the app writes before it has noticed: the app's write takes the
    // tool's value in, and the tool's key is still announced; the app's own key is not.
    tool.setBool("notifyOnChanges", false);
    app.setBool("launchAtLogin", false);
    ASSERT_TRUE(announces("notifyOnChanges"));
    EXPECT_EQ(app.boolValue("notifyOnChanges"), false);
    tool.setString("marker", "1");
    ASSERT_TRUE(announces("marker"));
    EXPECT_EQ(announced, (QStringList{"folderPath", "uploadLimitMBps", "notifyOnChanges", "marker"}));
}

TEST_F(WatchedSettingsStoreTest, AnEditorWritingInPlaceIsNoticed) {
    test::writeFile(path, R"({"folderPath": "~/Edited", "uploadLimitMBps": 1})");
    ASSERT_TRUE(announces("folderPath"));
    EXPECT_EQ(app.stringValue("folderPath"), "~/Edited");
    // The watch follows the file when a write renames a new one over it.
    SettingsStore(path).setString("marker", "1");
    ASSERT_TRUE(announces("marker"));
    test::writeFile(path, R"({"folderPath": "~/Again"})");
    ASSERT_TRUE(test::waitFor([&] { return app.stringValue("folderPath") == "~/Again"; }));
}

TEST_F(WatchedSettingsStoreTest, AnUnreadableFileKeepsTheLastGoodValuesAndTheNextWriteToo) {
    for (const QByteArray& bytes :
         {QByteArray(), QByteArray("{\"folderPath\": \"~/Half"), QByteArray("[]")}) {
        test::writeFile(path, bytes);
        app.reload();
        EXPECT_EQ(app.stringValue("folderPath"), "~/A") << bytes.constData();
    }
    QFile::remove(path);
    app.reload();
    EXPECT_EQ(app.doubleValue("uploadLimitMBps"), 1.0);
    EXPECT_TRUE(announced.isEmpty());

    test::writeFile(path, "[]");
    app.setBool("launchAtLogin", false); // built on the last good values, not on nothing
    const SettingsStore fresh(path);
    EXPECT_EQ(fresh.stringValue("folderPath"), "~/A");
    EXPECT_EQ(fresh.doubleValue("uploadLimitMBps"), 1.0);
    EXPECT_EQ(fresh.boolValue("launchAtLogin"), false);
}

} // namespace
