#include "decimalformat.h"

#include <QLocale>

#include <charconv>
#include <cmath>
#include <limits>

QString DecimalFormat::number(double value, int decimals)
{
    if (decimals >= 0 || !std::isfinite(value))
        return QString::number(value, 'f', qMax(decimals, 0));
    const float narrowed = float(value);
    if (!std::isfinite(narrowed))
        return QString::number(value, 'f', QLocale::FloatingPointShortest);
    // The longest fixed-notation float (the largest finite one, or the smallest subnormal with
    // its leading zeros) stays well below this.
    char text[std::numeric_limits<float>::max_exponent10 + std::numeric_limits<float>::max_digits10 + 64];
    const std::to_chars_result result = std::to_chars(text, text + sizeof text, narrowed, std::chars_format::fixed);
    if (result.ec != std::errc())
        return QString::number(value, 'f', QLocale::FloatingPointShortest);
    return QString::fromLatin1(text, int(result.ptr - text));
}
