#include "platform/Format.h"
#include <gtest/gtest.h>

TEST(Format, TextAndIntegers)
{
    EXPECT_EQ(Format("Bir hata oluştu. Hata kodu: %d. %s", 10005, QStringLiteral("İleti")),
        QStringLiteral("Bir hata oluştu. Hata kodu: 10005. İleti"));
    EXPECT_EQ(Format("%s/%s %d%%", "a", std::string("b"), -7L), QStringLiteral("a/b -7%"));
    EXPECT_EQ(Format("no args"), QStringLiteral("no args"));
}

#if defined(ZYR_FORMAT_MISMATCH_text_for_int)
static QString bad = Format("%d", QStringLiteral("x"));
#elif defined(ZYR_FORMAT_MISMATCH_int_for_text)
static QString bad = Format("%s", 5);
#elif defined(ZYR_FORMAT_MISMATCH_too_few)
static QString bad = Format("%s %d", "x");
#elif defined(ZYR_FORMAT_MISMATCH_too_many)
static QString bad = Format("%s", "x", 5);
#endif
