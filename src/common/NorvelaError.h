#pragma once

#include <QString>

#include <exception>

namespace norvela {

// Base of every error the system raises; description() is the user-visible message that
// ends up in a status line ("Couldn't create link: " + description).
class NorvelaError : public std::exception {
public:
    explicit NorvelaError(QString description)
        : m_description(std::move(description)), m_what(m_description.toUtf8()) {}

    const QString& description() const { return m_description; }
    const char* what() const noexcept override { return m_what.constData(); }

private:
    QString m_description;
    QByteArray m_what;
};

// Why an operation failed, as a user-visible text, whatever was thrown.
QString describe(const std::exception_ptr& error);

} // namespace norvela
