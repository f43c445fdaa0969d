#include "ddelink/DdeError.h"

#include <gtest/gtest.h>

#include <QStringList>

#include "platform/ddeml.h"

using orvane::DdeErrorText;

TEST(DdeError, EveryCodeHasItsTextAndOnlyTheLowWordCounts) {
    EXPECT_EQ(DdeErrorText(DMLERR_NO_ERROR), QStringLiteral("No error found."));
    EXPECT_EQ(DdeErrorText(DMLERR_ADVACKTIMEOUT), QStringLiteral("Start advise ack timeout."));
    EXPECT_EQ(DdeErrorText(DMLERR_NO_CONV_ESTABLISHED),
              QStringLiteral("No conversation was established."));
    EXPECT_EQ(DdeErrorText(DMLERR_REENTRANCY), QStringLiteral("Re entrancy."));
    EXPECT_EQ(DdeErrorText(DMLERR_UNFOUND_QUEUE_ID), QStringLiteral("Unfound queue id."));
    EXPECT_EQ(DdeErrorText(0x7FFF0000u | DMLERR_SERVER_DIED), QStringLiteral("Server died."));
    for (std::uint32_t code : {0x3FFFu, 0x4012u, 1u, 0xFFFFu}) {
        EXPECT_EQ(DdeErrorText(code), QStringLiteral("Error code not in list of error values."));
    }
    // Every code of the library's range has its own text.
    QStringList texts;
    for (std::uint32_t code = DMLERR_FIRST; code <= DMLERR_LAST; ++code) {
        texts << DdeErrorText(code);
    }
    texts.removeDuplicates();
    EXPECT_EQ(texts.size(), int(DMLERR_LAST - DMLERR_FIRST + 1));
    EXPECT_FALSE(texts.contains(QStringLiteral("Error code not in list of error values.")));
}
