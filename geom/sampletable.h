#ifndef GEOM_SAMPLETABLE_H
#define GEOM_SAMPLETABLE_H

#include <QByteArray>
#include <QVector>

namespace geom {

// One entry of an SLC sample table, in the file's field order.
struct SampleTableEntry
{
    float z = 0.0f;
    float thickness = 0.0f;
    float lineWidthCompensation = 0.0f;
    float reserved = 0.0f;
};
static_assert(sizeof(SampleTableEntry) == 16, "a sample-table entry is a 16-byte record");

// The sample table of an open SLC file as the slice view keeps it.
struct SampleTable
{
    QVector<SampleTableEntry> entries;
    QByteArray bytes;
};

} // namespace geom

Q_DECLARE_TYPEINFO(geom::SampleTableEntry, Q_PRIMITIVE_TYPE);

#endif // GEOM_SAMPLETABLE_H
