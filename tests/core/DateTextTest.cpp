// The program's one form for a date with its time of day, in 12- and 24-hour locales.

#include "core/DateText.h"

#include <QTimeZone>

#include <gtest/gtest.h>

namespace quillby {
namespace {

TEST(DateText, MediumDateAndShortTimeOfTheLocale)
{
    const QDateTime when(QDate(2026, 12, 11), QTime(14, 3, 26), QTimeZone::utc());
    const struct {
        const char *locale;
        const char *text;
    } cases[] = {
        {"en_US", "Dec 11, 2026 2:03 PM"},
        {"de_DE", "11. Dez. 2026 14:03"},
        {"es_US", "11 de dic de 2026 2:03 P.\u00A0M."},
        {"el_GR", "11 \u0394\u03B5\u03BA 2026 2:03 \u039C.\u039C."},
        {"C", "11 Dec 2026 14:03:26"},   // Qt's C locale keeps the seconds in its short time
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.locale);
        const QLocale locale(QString::fromLatin1(c.locale));
        EXPECT_EQ(mediumDateShortTime(when, locale).toStdString(), std::string(c.text));
        EXPECT_FALSE(mediumDateFormat(locale).contains(QStringLiteral("dddd")));
        EXPECT_FALSE(mediumDateFormat(locale).contains(QStringLiteral("MMMM")));
    }
}

} // namespace
} // namespace quillby
