#include "imageseriesnames.h"

ImageSeriesNames::ImageSeriesNames(const QString &directory, const QString &baseName, int digits)
    : m_directory(directory)
    , m_baseName(baseName)
    , m_digits(digits)
{
}

int ImageSeriesNames::digitsFor(int count)
{
    return QString::number(count).size();
}

QString ImageSeriesNames::fileName(int number) const
{
    return QStringLiteral("%1%2.png").arg(m_baseName, QStringLiteral("%1").arg(number, m_digits, 10, QLatin1Char('0')));
}

QString ImageSeriesNames::filePath(int number) const
{
    return m_directory + QLatin1Char('/') + fileName(number);
}

QStringList ImageSeriesNames::filePaths(int count) const
{
    QStringList paths;
    paths.reserve(count);
    for (int number = 1; number <= count; ++number)
        paths.append(filePath(number));
    return paths;
}
