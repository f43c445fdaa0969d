#include "SoftAssertGuard.h"

#include <gtest/gtest.h>

#include <QLoggingCategory>

namespace orvane::test {

namespace {

QtMessageHandler g_previousHandler = nullptr;
ExpectSoftAsserts* g_expectation = nullptr;

void watchSoftAsserts(QtMsgType type, const QMessageLogContext& context, const QString& message) {
    if (context.category != nullptr && qstrcmp(context.category, "orvane.assert") == 0) {
        bool absorbed = false;
        absorbSoftAssert(message, &absorbed);
        if (!absorbed) {
            ADD_FAILURE() << message.toStdString();
        }
    }
    if (g_previousHandler != nullptr) {
        g_previousHandler(type, context, message);
    }
}

} // namespace

void absorbSoftAssert(const QString& line, bool* absorbed) {
    *absorbed = g_expectation != nullptr;
    if (g_expectation != nullptr) {
        g_expectation->m_lines.append(line);
    }
}

void installSoftAssertWatch() {
    g_previousHandler = qInstallMessageHandler(&watchSoftAsserts);
}

ExpectSoftAsserts::ExpectSoftAsserts() : m_previous(g_expectation) {
    g_expectation = this;
}

ExpectSoftAsserts::~ExpectSoftAsserts() {
    g_expectation = m_previous;
}

} // namespace orvane::test
