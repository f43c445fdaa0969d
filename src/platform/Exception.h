#pragma once

// The base exception of the system: every failure carries the message text
// that the user is shown ("Control has not been connected.", ...). Subsystems
// derive their own classes (EDdeError, TKIItemException, ...) directly from it.

#include <exception>

#include <QByteArray>
#include <QString>

namespace orvane {

class Exception : public std::exception {
public:
    explicit Exception(QString message)
        : m_message(std::move(message)), m_utf8(m_message.toUtf8()) {}

    const QString& message() const noexcept { return m_message; }
    const char* what() const noexcept override { return m_utf8.constData(); }

private:
    QString m_message;
    QByteArray m_utf8;
};

} // namespace orvane
