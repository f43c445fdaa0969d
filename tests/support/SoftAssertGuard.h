#pragma once

// The test main's watch on soft assertions (platform/SoftAssert.h): every
// "orvane.assert" log line fails the running test, unless the test opened an
// ExpectSoftAsserts scope, which counts and keeps the lines instead (for the
// few tests that break a precondition on purpose).

#include <QStringList>

namespace orvane::test {

// Installs the watch; called once by the test main.
void installSoftAssertWatch();

class ExpectSoftAsserts;
// Hands a soft assertion line to the innermost open scope, if any.
void absorbSoftAssert(const QString& line, bool* absorbed);

class ExpectSoftAsserts {
public:
    ExpectSoftAsserts();
    ~ExpectSoftAsserts();
    ExpectSoftAsserts(const ExpectSoftAsserts&) = delete;
    ExpectSoftAsserts& operator=(const ExpectSoftAsserts&) = delete;

    int count() const { return static_cast<int>(m_lines.size()); }
    const QStringList& lines() const { return m_lines; }

private:
    friend void absorbSoftAssert(const QString& line, bool* absorbed);
    ExpectSoftAsserts* m_previous;
    QStringList m_lines;
};

} // namespace orvane::test
