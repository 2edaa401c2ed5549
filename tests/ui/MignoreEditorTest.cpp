#include "LogCapture.h"
#include "ModelFixture.h"
#include "ViewHarness.h"
#include "sync/FolderScanner.h"
#include "sync/MignoreRules.h"
#include "sync/MignoreTally.h"
#include "views/MignoreEditorState.h"

#include <QDir>
#include <QQmlContext>
#include <QQmlExpression>
#include <QScopeGuard>
#include <QSemaphore>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QThreadPool>

#include <atomic>
#include <memory>

using namespace norvela;
using namespace norvela::test;

namespace {

const QString starter = MignoreRules::starterText();

void makeFiles(const QString& root, const QStringList& paths) {
    for (const QString& path : paths) {
        QDir().mkpath(QFileInfo(root + u'/' + path).absolutePath());
        writeFile(root + u'/' + path, "x");
    }
}

TEST(MignoreTally, CountsEachExcludedFileForTheRuleThatDecidesIt) {
    QTemporaryDir root;
    makeFiles(root.path(), {"a.log", "keep.log", "logs/x.txt", "logs/y.log", "debug.log", "debug.txt",
                            "src/main.c", "src/debug.log", ".hidden.log", "build/keep.txt"});
    const QStringList lines{"# comment", "*.log",  "logs/",           "debug.*", "!keep.log",
                            "",          "build/", "!build/keep.txt", "!"};
    const MignoreTally tally = MignoreTally::count(root.path(), lines);

    // logs/y.log is both "*.log" and in "logs/": the pruned folder decides; debug.log is the
    // later "debug.*"; a negation can't reach into a pruned folder, and keeps nothing out.
    EXPECT_EQ(tally.keptOut, (QList<qsizetype>{-1, 1, 2, 3, -1, -1, 1, -1, -1}));
    EXPECT_EQ(tally.syncing, 2); // keep.log, src/main.c
    const MignoreRules rules(lines);
    EXPECT_EQ(tally.syncing, FolderScanner::scan(root.path(), &rules).size());

    EXPECT_EQ(MignoreTally::count(root.path() + "/missing", lines).syncing, 0);
    EXPECT_EQ(MignoreTally::count(root.path(), {}).syncing, 9);
}

// The editor as the preferences window hosts it, with an Escape shortcut of the host's own.
const QByteArray host = R"(
import QtQuick
import Norvela
Window {
    id: host
    required property AppModel app
    property string folderPath
    property int dismissals: 0
    property int hostEscapes: 0
    width: 460
    height: 440
    Shortcut { sequence: "Escape"; onActivated: host.hostEscapes++ }
    MignoreEditor {
        objectName: "editor"
        app: host.app
        folderPath: host.folderPath
        onDismissed: host.dismissals++
    }
}
)";

class MignoreEditorTest : public ModelFixture {
protected:
    void SetUp() override {
        ModelFixture::SetUp();
        makeModel();
        folder = QDir::homePath() + "/Sync-" + QString::number(++s_folders);
        QDir().mkpath(folder);
    }
    void TearDown() override {
        if (harness)
            harness.reset();
        QThreadPool::globalInstance()->waitForDone();
        ModelFixture::TearDown();
    }

    // Opens the editor on "~/Sync-n" and waits for its first count.
    MignoreEditorState* open() {
        harness->showQml(host, {{"app", QVariant::fromValue(model.get())},
                                {"folderPath", "~/" + QFileInfo(folder).fileName()}});
        auto* state = harness->window() ? harness->window()->findChild<MignoreEditorState*>() : nullptr;
        EXPECT_TRUE(state && waitFor([&] { return state->syncCount() && !state->counting(); }));
        harness->settle();
        return state;
    }
    QString file() const { return folder + "/.mignore"; }
    bool fileIs(const QByteArray& text) const {
        return waitFor([&] { return QFile::exists(file()) && readFile(file()) == text; });
    }
    void submitField(const QString& text) {
        QQuickItem* field = harness->find("patternField");
        field->setProperty("text", text);
        field->forceActiveFocus();
        harness->key(Qt::Key_Return);
    }
    bool counted(MignoreEditorState* state) {
        const bool done = waitFor([&] { return !state->counting(); });
        harness->settle();
        return done;
    }
    static QString accessibleName(QQuickItem* item) {
        QQmlExpression name(qmlContext(item), item, QStringLiteral("Accessible.name"));
        return name.evaluate().toString();
    }

    QString folder;
    std::unique_ptr<ViewHarness> harness = std::make_unique<ViewHarness>();
    inline static int s_folders = 0;
};

TEST_F(MignoreEditorTest, WithoutAFileShowsTheStarterTextAndTheFirstAdditionFollowsIt) {
    MignoreEditorState* state = open();
    ASSERT_TRUE(state);
    EXPECT_EQ(state->lines(), MignoreRules::splitLines(starter));
    EXPECT_EQ(harness->text("editorSubtitle"), "Matching files in ~/" + QFileInfo(folder).fileName() +
                                                   " won't sync · hidden files never sync");
    EXPECT_TRUE(harness->findAll("patternRow").isEmpty());
    EXPECT_TRUE(harness->find("emptyPatterns"));
    EXPECT_EQ(harness->texts("commonPatternButton"),
              (QStringList{"+ node_modules/", "+ build/", "+ dist/", "+ *.log", "+ *.tmp"}));
    EXPECT_EQ(harness->text("syncCountText"), "0 files will sync with these rules");
    EXPECT_FALSE(QFile::exists(file())); // nothing written until something changes

    // Every control is named for assistive technology.
    QList<QQuickItem*> controls{harness->find("closeButton"), harness->find("patternField"),
                                harness->find("addButton"), harness->find("openAsTextButton")};
    controls += harness->findAll("commonPatternButton");
    for (QQuickItem* control : controls)
        EXPECT_FALSE(accessibleName(control).isEmpty()) << control->objectName().toStdString();
    EXPECT_EQ(accessibleName(harness->find("closeButton")), "Close");

    // The first pattern added goes after the starter text, and its button goes.
    ASSERT_TRUE(harness->click(harness->findAll("commonPatternButton").value(3)));
    EXPECT_TRUE(fileIs((starter + "\n*.log\n").toUtf8()));
    ASSERT_TRUE(counted(state));
    EXPECT_EQ(harness->texts("commonPatternButton"),
              (QStringList{"+ node_modules/", "+ build/", "+ dist/", "+ *.tmp"}));
    EXPECT_EQ(harness->texts("patternText"), QStringList{"*.log"});
    EXPECT_EQ(harness->find("emptyPatterns"), nullptr);
}

TEST_F(MignoreEditorTest, TheFieldAddsTrimmedPatternsOnceAfterTheLastNonEmptyLineAndIgnoresBlanks) {
    writeFile(file(), "# mine\n  \n\n\n"); // a line of blanks is not empty: it stays
    MignoreEditorState* state = open();
    ASSERT_TRUE(state);
    harness->find("patternField")->forceActiveFocus();
    harness->type("  dist/  ");
    harness->key(Qt::Key_Return);
    EXPECT_TRUE(fileIs("# mine\n  \ndist/\n"));
    EXPECT_EQ(harness->text("patternField"), "");

    submitField("   ");
    EXPECT_EQ(state->lines(), (QStringList{"# mine", "  ", "dist/"}));
    EXPECT_EQ(harness->text("patternField"), "   ");

    // An active pattern typed again, blanks around it, changes nothing.
    submitField(" dist/\t");
    EXPECT_EQ(state->lines(), (QStringList{"# mine", "  ", "dist/"}));
    EXPECT_EQ(harness->text("patternField"), "");

    harness->find("patternField")->setProperty("text", "build/");
    ASSERT_TRUE(harness->click("addButton"));
    EXPECT_TRUE(fileIs("# mine\n  \ndist/\nbuild/\n"));
    EXPECT_EQ(harness->texts("commonPatternButton"), (QStringList{"+ node_modules/", "+ *.log", "+ *.tmp"}));
}

TEST_F(MignoreEditorTest, RemovingARowRemovesExactlyItsLine) {
    writeFile(file(), "# top\n*.log\n# middle\n  build/\n# bottom\n");
    ASSERT_TRUE(open());
    EXPECT_EQ(harness->texts("patternText"), (QStringList{"*.log", "build/"}));
    ASSERT_TRUE(harness->click(harness->findAll("removeButton").value(1)));
    EXPECT_TRUE(fileIs("# top\n*.log\n# middle\n# bottom\n"));
    EXPECT_EQ(harness->texts("patternText"), QStringList{"*.log"});
}

TEST_F(MignoreEditorTest, CountsWhatSyncsAndWhatEachPatternKeepsOut) {
    makeFiles(folder, {"a.log", "b.log", "logs/c.log", "logs/d.txt", "logs/e.txt"});
    writeFile(file(), "*.log\nlogs/\n!b.log\n");
    MignoreEditorState* state = open();
    ASSERT_TRUE(state);
    EXPECT_EQ(harness->text("syncCountText"), "1 file will sync with these rules");
    // logs/c.log is the folder rule's; a "!" line keeps nothing out and says no count.
    EXPECT_EQ(harness->texts("patternCount"), (QStringList{"1 file", "3 files", ""}));

    state->removeLine(1);
    ASSERT_TRUE(counted(state));
    EXPECT_EQ(harness->texts("patternCount"), (QStringList{"2 files", ""}));
    EXPECT_EQ(harness->text("syncCountText"), "3 files will sync with these rules");
}

TEST_F(MignoreEditorTest, OnlyTheLatestLinesCountEvenWhenAnOlderCountEndsLast) {
    makeFiles(folder, {"a.log", "b.tmp", "c.txt"});
    MignoreEditorState* state = open();
    ASSERT_TRUE(state);
    auto gate = std::make_shared<QSemaphore>();
    auto calls = std::make_shared<std::atomic_int>(0);
    state->setCounter([gate, calls](const QString& root, const QStringList& lines) {
        if ((*calls)++ == 0)
            gate->acquire();
        return MignoreTally::count(root, lines);
    });
    const auto release = qScopeGuard([gate] { gate->release(); });
    QList<qsizetype> shown;
    QObject::connect(state, &MignoreEditorState::syncCountChanged,
                     [&] { shown.append(state->syncCount().value_or(-1)); });

    state->add("*.log"); // held back
    ASSERT_TRUE(waitFor([&] { return *calls == 1; }));
    harness->settle();
    EXPECT_EQ(harness->text("syncCountText"), "Counting files…");
    EXPECT_NE(harness->find("countingIndicator"), nullptr);
    state->add("*.tmp");
    gate->release();
    ASSERT_TRUE(counted(state));
    EXPECT_EQ(shown, QList<qsizetype>{1});
    EXPECT_EQ(harness->text("syncCountText"), "1 file will sync with these rules");
    EXPECT_EQ(harness->find("countingIndicator"), nullptr);

    // Closed while a count runs: its result lands nowhere.
    *calls = 0;
    state->add("*.txt");
    ASSERT_TRUE(waitFor([&] { return *calls == 1; }));
    harness.reset();
    gate->release();
    QThreadPool::globalInstance()->waitForDone();
    processEvents();
}

TEST_F(MignoreEditorTest, KeyboardWalksTopToBottomAndEscapeDismisses) {
    writeFile(file(), "node_modules/\nbuild/\ndist/\n*.log\n");
    ASSERT_TRUE(open());
    harness->find("closeButton")->forceActiveFocus();
    QStringList order{harness->window()->activeFocusItem()->objectName()};
    for (int i = 0; i < 8; ++i) {
        harness->key(Qt::Key_Tab);
        order.append(harness->window()->activeFocusItem()->objectName());
    }
    EXPECT_EQ(order,
              (QStringList{"closeButton", "removeButton", "removeButton", "removeButton", "removeButton",
                           "commonPatternButton", "patternField", "addButton", "openAsTextButton"}));

    // Return on a focused button acts; Escape from the field is the editor's, not the host's.
    harness->find("commonPatternButton")->forceActiveFocus();
    harness->key(Qt::Key_Return);
    EXPECT_TRUE(fileIs("node_modules/\nbuild/\ndist/\n*.log\n*.tmp\n"));
    harness->find("patternField")->forceActiveFocus();
    harness->key(Qt::Key_Escape);
    EXPECT_EQ(harness->window()->property("dismissals").toInt(), 1);
    EXPECT_EQ(harness->window()->property("hostEscapes").toInt(), 0);
    ASSERT_TRUE(harness->click("closeButton"));
    EXPECT_EQ(harness->window()->property("dismissals").toInt(), 2);
}

TEST_F(MignoreEditorTest, OpenAsTextWritesAMissingFileFirstAndLeavesAnExistingOne) {
    ASSERT_TRUE(open());
    ASSERT_TRUE(harness->click("openAsTextButton"));
    ASSERT_TRUE(waitFor([&] { return !desktop.opened.isEmpty(); }));
    EXPECT_EQ(desktop.opened, QStringList{file()});
    EXPECT_EQ(readFile(file()), (starter + "\n").toUtf8());

    writeFile(file(), "*.tmp"); // no final line feed: a rewrite would add one
    ASSERT_TRUE(harness->click("openAsTextButton"));
    ASSERT_TRUE(waitFor([&] { return desktop.opened.size() == 2; }));
    EXPECT_EQ(readFile(file()), "*.tmp");
}

TEST_F(MignoreEditorTest, StaticRenderingLoadsAndCountsAtOnce) {
    makeFiles(folder, {"a.log", "b.txt"});
    MignoreEditorState state;
    state.setStaticRender(true);
    state.setFolderPath(folder);
    EXPECT_TRUE(state.lines().isEmpty()); // no starter text here
    EXPECT_EQ(state.syncCount(), 2);
    EXPECT_FALSE(state.counting());

    writeFile(file(), "*.log\n");
    MignoreEditorState written;
    written.setStaticRender(true);
    written.setFolderPath(folder);
    EXPECT_EQ(written.lines(), QStringList{"*.log"});
    EXPECT_EQ(written.syncCount(), 1);
    EXPECT_EQ(written.keptOut(), QList<qsizetype>{1});
    EXPECT_EQ(written.footerText(), "1 file will sync with these rules");
}

TEST_F(MignoreEditorTest, AFailedWriteKeepsTheEditAndIsLoggedOnce) {
    makeFiles(folder, {"a.log", "b.tmp", "c.txt"});
    QDir().mkpath(file()); // a folder in the file's place: unreadable and unwritable
    LogCapture log;
    MignoreEditorState state;
    state.setFolderPath(folder);
    state.setActive(true);
    EXPECT_EQ(state.lines(), MignoreRules::splitLines(starter));
    state.add("*.log");
    state.add("*.tmp");
    ASSERT_TRUE(waitFor([&] { return !state.counting(); }));
    QThreadPool::globalInstance()->waitForDone();
    EXPECT_EQ(state.patterns(), (QStringList{"*.log", "*.tmp"}));
    EXPECT_EQ(state.syncCount(), 1);
    EXPECT_TRUE(QFileInfo(file()).isDir());
    EXPECT_EQ(log.count("Couldn't save"), 1);
}

} // namespace
