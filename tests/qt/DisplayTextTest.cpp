// The program's texts keep the line breaks they were written with; labels and message boxes get plain new lines.
#include <QString>

#include <gtest/gtest.h>

#include "QtDisplayText.h"

namespace {

TEST(DisplayText, EachWrittenLineBreakBecomesOneNewLine) {
    EXPECT_EQ(DisplayText(QStringLiteral("one\r\ntwo\rthree\nfour")), QStringLiteral("one\ntwo\nthree\nfour"));
    // A lone CR before a CR LF is a break of its own, not part of the pair.
    EXPECT_EQ(DisplayText(QStringLiteral("a\r\r\nb")), QStringLiteral("a\n\nb"));
}

TEST(DisplayText, TextWithoutBreaksStaysAsItIs) {
    EXPECT_EQ(DisplayText(QStringLiteral(" Please Wait. ")), QStringLiteral(" Please Wait. "));
    EXPECT_EQ(DisplayText(QString()), QString());
}

} // namespace
