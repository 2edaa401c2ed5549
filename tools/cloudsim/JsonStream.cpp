#include "JsonStream.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

namespace cloudsim {

namespace {

QByteArray encoded(const QJsonValue& value) {
    if (value.isObject())
        return QJsonDocument(value.toObject()).toJson(QJsonDocument::Compact);
    if (value.isArray())
        return QJsonDocument(value.toArray()).toJson(QJsonDocument::Compact);
    const QByteArray inArray = QJsonDocument(QJsonArray{value}).toJson(QJsonDocument::Compact);
    return inArray.mid(1, inArray.size() - 2);
}

} // namespace

void JsonStream::separate() {
    if (m_afterKey) {
        m_afterKey = false;
        return;
    }
    if (m_empty.isEmpty())
        return;
    if (!m_empty.last())
        m_out.write(",");
    m_empty.last() = false;
}

void JsonStream::key(const QString& name) {
    separate();
    m_out.write(encoded(name));
    m_out.write(":");
    m_afterKey = true;
}

void JsonStream::value(const QJsonValue& value) {
    separate();
    m_out.write(encoded(value));
}

void JsonStream::beginObject() {
    separate();
    m_out.write("{");
    m_empty.append(true);
    m_closers.append('}');
}

void JsonStream::beginArray() {
    separate();
    m_out.write("[");
    m_empty.append(true);
    m_closers.append(']');
}

void JsonStream::end() {
    m_out.write(&m_closers.last(), 1);
    m_closers.removeLast();
    m_empty.removeLast();
}

} // namespace cloudsim
