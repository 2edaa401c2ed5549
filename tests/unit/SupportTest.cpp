#include "platform/Support.h"
#include "RecordingDesktop.h"
#include "TestSupport.h"

#include <QFile>
#include <QTemporaryDir>
#include <QUrlQuery>

#include <gtest/gtest.h>

using namespace norvela;
using namespace norvela::test;

static const QString mailto = QStringLiteral("mailto:" NORVELA_SUPPORT_EMAIL);

TEST(FeedbackUrl, EncodesSubjectAndBodyAsQueryValues) {
    EXPECT_EQ(Support::feedbackUrl("0.1.0", "3e299bf", "Debian GNU/Linux 12 (bookworm)")
                  .toString(QUrl::FullyEncoded),
              mailto + "?subject=Norvela%20feedback%20%28v0.1.0%29"
                       "&body=%0A%0A%E2%80%94%E2%80%94%0ANorvela%200.1.0%20%283e299bf%29%0A"
                       "Debian%20GNU%2FLinux%2012%20%28bookworm%29");
    // Non-ASCII goes as UTF-8; characters that would end the value ('&', '=', '+') are escaped.
    EXPECT_EQ(Support::feedbackUrl("2.0", "", "Tōkyō OS 3 & more=+").toString(QUrl::FullyEncoded),
              mailto + "?subject=Norvela%20feedback%20%28v2.0%29"
                       "&body=%0A%0A%E2%80%94%E2%80%94%0ANorvela%202.0%20%28%3F%29%0A"
                       "T%C5%8Dky%C5%8D%20OS%203%20%26%20more%3D%2B");
    const QUrlQuery query(Support::feedbackUrl("", "", "X"));
    EXPECT_EQ(query.queryItemValue("subject", QUrl::FullyDecoded), "Norvela feedback (v?)");
}

TEST(FeedbackUrl, ComposeOpensThisBuildsMessage) {
    RecordingDesktop desktop;
    Support::composeFeedback(desktop);
    ASSERT_EQ(desktop.urls.size(), 1);
    const QUrl url = desktop.urls.front();
    EXPECT_EQ(url.scheme(), "mailto");
    EXPECT_EQ(url.path(), NORVELA_SUPPORT_EMAIL);
    const QUrlQuery query(url);
    EXPECT_EQ(query.queryItemValue("subject", QUrl::FullyDecoded), "Norvela feedback (v" NORVELA_VERSION ")");
    const QStringList body = query.queryItemValue("body", QUrl::FullyDecoded).split('\n');
    ASSERT_EQ(body.size(), 5);
    EXPECT_TRUE(body[3].startsWith("Norvela " NORVELA_VERSION " ("));
    // One line naming this system, by its os-release name where it has one.
    EXPECT_EQ(body[4], Support::operatingSystemLine());
    EXPECT_FALSE(body[4].isEmpty());
    EXPECT_TRUE(body[4].startsWith(Support::osReleasePrettyName("/etc/os-release"))) << body[4].toStdString();
}

TEST(OperatingSystem, PrettyNameFromOsRelease) {
    QTemporaryDir dir;
    const QString path = dir.filePath("os-release");
    auto nameIn = [&](const QByteArray& text) {
        writeFile(path, text);
        return Support::osReleasePrettyName(path);
    };
    EXPECT_EQ(
        nameIn(
            "NAME=\"Debian GNU/Linux\"\nPRETTY_NAME=\"Debian GNU/Linux 12 (bookworm)\"\nVERSION_ID=\"12\"\n"),
        "Debian GNU/Linux 12 (bookworm)");
    EXPECT_EQ(nameIn("ID=arch\nPRETTY_NAME=Arch\nBUILD_ID=rolling\n"), "Arch");
    EXPECT_EQ(nameIn("PRETTY_NAME='Fedora Linux 39 (Workstation Edition)'\n"),
              "Fedora Linux 39 (Workstation Edition)");
    EXPECT_EQ(nameIn("# PRETTY_NAME=\"commented out\"\n  PRETTY_NAME=\"Say \\\"Ünïcode\\\" \\$1\"  \n"),
              "Say \"Ünïcode\" $1");
    EXPECT_EQ(nameIn("NAME=Plain\nPRETTY_NAME_EXTRA=no\n"), "");
    EXPECT_EQ(Support::osReleasePrettyName(dir.filePath("missing")), "");
}
