#pragma once

#include "common/NorvelaError.h"

#include <QJsonArray>
#include <QJsonObject>

namespace norvela {

// A reply that lacks a required key or has one of the wrong type.
class DecodeError : public NorvelaError {
public:
    using NorvelaError::NorvelaError;

    // Strict readers: each throws a DecodeError naming the key.
    static QJsonObject object(const QByteArray& json);
    static QString string(const QJsonObject& o, const QString& key);
    static double number(const QJsonObject& o, const QString& key);
    static qint64 integer(const QJsonObject& o, const QString& key);
    static QJsonObject object(const QJsonObject& o, const QString& key);
    static QJsonArray array(const QJsonObject& o, const QString& key);
};

} // namespace norvela
