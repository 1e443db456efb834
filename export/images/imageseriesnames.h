#ifndef IMAGESERIESNAMES_H
#define IMAGESERIESNAMES_H

#include <QString>
#include <QStringList>

// The names of an image series, one PNG per slice: <directory>/<base name><number>.png, the
// number counting from 1 and padded with zeros to the digits of the series' size, so that the
// images sort in slice order wherever they are listed.
class ImageSeriesNames
{
public:
    ImageSeriesNames(const QString &directory, const QString &baseName, int digits);

    // The digits of the largest number of a series of `count` images.
    static int digitsFor(int count);

    QString fileName(int number) const;
    QString filePath(int number) const;
    // The paths of images 1 .. count.
    QStringList filePaths(int count) const;

private:
    QString m_directory;
    QString m_baseName;
    int m_digits;
};

#endif // IMAGESERIESNAMES_H
