#pragma once

#include <QTemporaryDir>
#include <QtGlobal>

#include <gtest/gtest.h>

// Gives each test its own XDG_RUNTIME_DIR, so the runtime folder, lock and socket are private.
class RuntimeDirFixture : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(m_xdg.isValid());
        qputenv("XDG_RUNTIME_DIR", m_xdg.path().toUtf8());
    }
    void TearDown() override { qunsetenv("XDG_RUNTIME_DIR"); }

    QString xdgPath() const { return m_xdg.path(); }
    QString runtimePath() const { return m_xdg.path() + QStringLiteral("/norvela"); }

private:
    QTemporaryDir m_xdg;
};
