#include "platform/Exception.h"

#include <gtest/gtest.h>

TEST(Exception, CarriesTheMessageTextUnchanged) {
    const QString text = QStringLiteral("Communications with the server failed.  You need to "
                                        "restart your application");
    try {
        throw orvane::Exception(text);
    } catch (const std::exception& e) {
        EXPECT_EQ(QString::fromUtf8(e.what()), text);
        const auto* ours = dynamic_cast<const orvane::Exception*>(&e);
        ASSERT_NE(ours, nullptr);
        EXPECT_EQ(ours->message(), text);
    }
}
