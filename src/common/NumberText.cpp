#include "common/NumberText.h"

#include <QStringList>

#include <charconv>
#include <cmath>
#include <limits>
#include <string>

namespace {

bool isBlank(QChar c)
{
    return c == u' ' || c == u'\t' || c == u'\r' || c == u'\n';
}

// Length of the numeric prefix starting at pos (sign, digits, ".", exponent), 0 when none.
qsizetype numericPrefixLength(QStringView text, qsizetype pos)
{
    qsizetype i = pos;
    const qsizetype n = text.size();
    if (i < n && (text[i] == u'+' || text[i] == u'-'))
        ++i;
    qsizetype digits = 0;
    while (i < n && text[i].isDigit() && text[i].unicode() < 128) {
        ++i;
        ++digits;
    }
    if (i < n && text[i] == u'.') {
        ++i;
        while (i < n && text[i].isDigit() && text[i].unicode() < 128) {
            ++i;
            ++digits;
        }
    }
    if (digits == 0)
        return 0;
    // An exponent counts only when digits follow it ("2E" is 2, "2E3" is 2000).
    if (i < n && (text[i] == u'e' || text[i] == u'E')) {
        qsizetype j = i + 1;
        if (j < n && (text[j] == u'+' || text[j] == u'-'))
            ++j;
        qsizetype expDigits = 0;
        while (j < n && text[j].isDigit() && text[j].unicode() < 128) {
            ++j;
            ++expDigits;
        }
        if (expDigits > 0)
            i = j;
    }
    return i - pos;
}

double toDouble(QStringView digits)
{
    const std::string s = digits.toString().toStdString();
    double value = 0;
    const char* begin = s.data();
    if (!s.empty() && s.front() == '+')
        ++begin;
    const auto result = std::from_chars(begin, s.data() + s.size(), value);
    if (result.ec == std::errc::result_out_of_range) {
        // from_chars leaves the value alone when it does not fit: saturate instead.
        const auto e = s.find_first_of("eE");
        if (e != std::string::npos && e + 1 < s.size() && s[e + 1] == '-')
            return 0.0;
        const double big = std::numeric_limits<double>::max();
        return s.front() == '-' ? -big : big;
    }
    return value;
}

} // namespace

double parseNumber(QStringView text)
{
    qsizetype pos = 0;
    while (pos < text.size() && isBlank(text[pos]))
        ++pos;
    const qsizetype len = numericPrefixLength(text, pos);
    if (len == 0)
        return 0.0;
    return toDouble(text.mid(pos, len));
}

bool beginsWithNumber(QStringView text)
{
    qsizetype pos = 0;
    while (pos < text.size() && isBlank(text[pos]))
        ++pos;
    return numericPrefixLength(text, pos) > 0;
}

bool isNumberText(QStringView text)
{
    const QStringView t = text.trimmed();
    if (t.isEmpty())
        return false;
    return numericPrefixLength(t, 0) == t.size();
}

bool isWholeNumberText(QStringView text)
{
    const QStringView t = text.trimmed();
    qsizetype i = 0;
    if (i < t.size() && (t[i] == u'+' || t[i] == u'-'))
        ++i;
    if (i == t.size())
        return false;
    for (; i < t.size(); ++i) {
        if (!(t[i].isDigit() && t[i].unicode() < 128))
            return false;
    }
    return true;
}

QString formatGeneral(double value)
{
    if (!std::isfinite(value))
        return QStringLiteral("0");
    if (value == 0.0)
        return QStringLiteral("0"); // also for -0
    char buf[64];
    const auto result = std::to_chars(buf, buf + sizeof buf, value, std::chars_format::general, 15);
    QString text = QString::fromLatin1(buf, result.ptr - buf);
    const qsizetype e = text.indexOf(u'e');
    if (e >= 0) {
        // to_chars writes "1e+15"; the load and the files use "1E+15" with two exponent digits.
        QString mantissa = text.left(e);
        QString exponent = text.mid(e + 1);
        const QChar sign = exponent[0];
        QString digits = exponent.mid(1);
        while (digits.size() < 2)
            digits.prepend(u'0');
        text = mantissa + u'E' + sign + digits;
    }
    return text;
}

int roundToInt(double value)
{
    if (!std::isfinite(value))
        return 0;
    const double r = std::round(value);
    if (r >= std::numeric_limits<int>::max())
        return std::numeric_limits<int>::max();
    if (r <= std::numeric_limits<int>::min())
        return std::numeric_limits<int>::min();
    return static_cast<int>(r);
}

int truncToInt(double value)
{
    if (!std::isfinite(value))
        return 0;
    const double t = std::trunc(value);
    if (t >= std::numeric_limits<int>::max())
        return std::numeric_limits<int>::max();
    if (t <= std::numeric_limits<int>::min())
        return std::numeric_limits<int>::min();
    return static_cast<int>(t);
}

double roundTo4(double value)
{
    return std::round(value * 10000.0) / 10000.0;
}

QString ConvertSecToMin(const QString& text)
{
    if (!text.contains(u':'))
        return text;
    const QStringList parts = text.split(u':');
    const double minutes = parseNumber(parts.value(0));
    const double seconds = parseNumber(parts.value(1));
    return QString::number(minutes + seconds / 60.0, 'f', 4);
}
