#pragma once

#include <QIODevice>
#include <QJsonValue>
#include <QList>
#include <QString>

namespace cloudsim {

// Writes one JSON document a value at a time, so that state too big to hold as a single
// QJsonDocument (thousands of files) is never built whole.
class JsonStream {
public:
    explicit JsonStream(QIODevice& out) : m_out(out) {}

    void key(const QString& name); // in an object, before each value
    void value(const QJsonValue& value);
    void beginObject();
    void beginArray();
    void end(); // closes the innermost object or array

private:
    void separate();

    QIODevice& m_out;
    QList<bool> m_empty; // for each open object or array, whether nothing is in it yet
    QList<char> m_closers;
    bool m_afterKey = false;
};

} // namespace cloudsim
