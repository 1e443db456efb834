#ifndef STLTESTUTIL_H
#define STLTESTUTIL_H

// Fixtures of the STL writer and exporter tests: a random-access device that
// runs out of room, regular polygons, a reader of binary STL bytes, and a
// mesh check that counts how the facets use their edges.

#include "facet.h"
#include "stl/stlexporter.h"

#include <QBuffer>
#include <QByteArray>
#include <QMap>
#include <QSet>
#include <QString>
#include <QStringList>
#include <QVector>
#include <QtEndian>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <map>
#include <functional>
#include <tuple>

namespace stltest {

// A buffer that accepts bytes up to `room` (counted from offset 0) and
// writes short beyond it, like a disk that is full.
class FullBuffer : public QBuffer
{
public:
    explicit FullBuffer(qint64 room) : m_room(room) {}

protected:
    qint64 writeData(const char *data, qint64 size) override
    {
        const qint64 n = std::max<qint64>(0, std::min(size, m_room - pos()));
        if (n == 0 && size > 0) {
            setErrorString(QStringLiteral("No space left on device"));
            return -1;
        }
        return QBuffer::writeData(data, n);
    }

private:
    qint64 m_room;
};

// A regular polygon of n vertices round (cx, cy), the first at angle start.
inline Contour circle(double cx, double cy, double radius, int n, double start, bool clockwise = false)
{
    QVector<geom::Point2Df> points;
    for (int i = 0; i < n; ++i) {
        const double a = start + (clockwise ? -1.0 : 1.0) * 2.0 * M_PI * i / n;
        points.append(geom::Point2Df(float(cx + radius * std::cos(a)), float(cy + radius * std::sin(a))));
    }
    return Contour(points);
}

// A point as a file in inches stores it and the reader converts it back:
// coordinates that are not round in millimetres.
inline geom::Point2Df throughInches(double x, double y)
{
    return geom::Point2Df(float(double(float(x / 25.4)) * 25.4), float(double(float(y / 25.4)) * 25.4));
}

struct StlFile
{
    bool valid = false; // 84 bytes or more and a whole number of records
    QByteArray header;
    quint32 count = 0;
    QVector<geom::Facet> facets;
    QVector<quint16> attributes;
};

inline StlFile readStl(const QByteArray &bytes)
{
    StlFile file;
    if (bytes.size() < 84 || (bytes.size() - 84) % 50 != 0)
        return file;
    file.valid = true;
    file.header = bytes.left(80);
    file.count = qFromLittleEndian<quint32>(bytes.constData() + 80);
    const int n = (bytes.size() - 84) / 50;
    file.facets.resize(n);
    file.attributes.resize(n);
    for (int i = 0; i < n; ++i) {
        const char *record = bytes.constData() + 84 + 50 * i;
        std::memcpy(&file.facets[i], record, 48);
        file.attributes[i] = qFromLittleEndian<quint16>(record + 48);
    }
    return file;
}

// What a set of facets makes as a surface.
struct MeshReport
{
    int vertices = 0;
    int edges = 0;
    int faces = 0;
    int unpairedEdges = 0;   // directed edges without exactly one opposite partner
    int overusedEdges = 0;   // directed edges used more than once
    int degenerateFaces = 0; // facets with two equal vertices
    int flatFaces = 0;       // facets without area (collinear vertices)
    int misnormaled = 0;     // stored normal against the vertex winding, or not a unit vector
    int normalsOff = 0;      // stored normal more than 1e-4 off (in a component) the vertices' own
    int singleOff = 0;       // ... more than 0.001 off them worked out in single precision (admesh)
    bool finite = true;
    double volume = 0;       // signed, from the vertex winding
    double area = 0;
    // The unpaired and overused directed edges, and how often each is used.
    struct Edge
    {
        geom::Point3Df from, to;
        int uses;
    };
    QVector<Edge> faultyEdges;

    int euler() const { return vertices - edges + faces; }
    bool closed() const { return unpairedEdges == 0 && overusedEdges == 0; }
    // What keeps the facets from being a clean solid (every edge used by two
    // facets in opposite directions, every facet with an area and facing
    // its winding), or nothing.
    QString faults() const
    {
        QStringList list;
        auto add = [&](int count, const char *what) {
            if (count != 0)
                list.append(QStringLiteral("%1 %2").arg(count).arg(QLatin1String(what)));
        };
        if (!finite)
            list.append(QStringLiteral("coordinates not finite"));
        add(unpairedEdges, "unpaired edges");
        add(overusedEdges, "overused edges");
        add(degenerateFaces, "degenerate facets");
        add(flatFaces, "facets without area");
        add(misnormaled, "facets facing against their winding");
        add(normalsOff, "stored normals off their facets' own");
        add(singleOff, "stored normals off their facets' own in single precision");
        return list.join(QStringLiteral(", "));
    }
};

inline MeshReport checkMesh(const QVector<geom::Facet> &facets)
{
    using Key = std::tuple<float, float, float>;
    auto key = [](const geom::Point3Df &p) { return Key(p.x, p.y, p.z); };
    std::map<std::pair<Key, Key>, int> directed;
    std::map<Key, int> vertices;
    MeshReport report;
    report.faces = facets.size();
    for (const geom::Facet &f : facets) {
        const geom::Point3Df v[3] = {f.vertex1, f.vertex2, f.vertex3};
        for (const geom::Point3Df &p : {f.normal, f.vertex1, f.vertex2, f.vertex3}) {
            if (!std::isfinite(p.x) || !std::isfinite(p.y) || !std::isfinite(p.z))
                report.finite = false;
        }
        if (v[0] == v[1] || v[1] == v[2] || v[2] == v[0])
            ++report.degenerateFaces;
        for (int i = 0; i < 3; ++i) {
            vertices[key(v[i])] = 1;
            ++directed[std::make_pair(key(v[i]), key(v[(i + 1) % 3]))];
        }
        const geom::Point3Df cross = f.crossNormal();
        const double dot = double(cross.x) * f.normal.x + double(cross.y) * f.normal.y + double(cross.z) * f.normal.z;
        const double length = std::sqrt(double(f.normal.x) * f.normal.x + double(f.normal.y) * f.normal.y
                                        + double(f.normal.z) * f.normal.z);
        if (cross == geom::Point3Df(0, 0, 0))
            ++report.flatFaces;
        if ((!(dot > 0) && cross != geom::Point3Df(0, 0, 0)) || std::fabs(length - 1.0) > 1e-5)
            ++report.misnormaled;
        // In double, so that the sums of large models stay exact enough.
        const double ax = f.vertex1.x, ay = f.vertex1.y, az = f.vertex1.z;
        const double ux = f.vertex2.x - ax, uy = f.vertex2.y - ay, uz = f.vertex2.z - az;
        const double wx = f.vertex3.x - ax, wy = f.vertex3.y - ay, wz = f.vertex3.z - az;
        const double cx = uy * wz - uz * wy, cy = uz * wx - ux * wz, cz = ux * wy - uy * wx;
        const double cl = std::sqrt(cx * cx + cy * cy + cz * cz);
        // The check of mesh repair tools (admesh: a component off by more than
        // 0.001), tightened: the normal of the stored vertices, in double.
        if (cl > 0
            && (std::fabs(cx / cl - f.normal.x) > 1e-4 || std::fabs(cy / cl - f.normal.y) > 1e-4
                || std::fabs(cz / cl - f.normal.z) > 1e-4))
            ++report.normalsOff;
        // The same as admesh works it out: in single precision, from the
        // first vertex; where that cancels to noise it "fixes" the normal.
        // (Coordinates near float's range overflow there; those are left.)
        const float fu[3] = {f.vertex2.x - f.vertex1.x, f.vertex2.y - f.vertex1.y, f.vertex2.z - f.vertex1.z};
        const float fw[3] = {f.vertex3.x - f.vertex1.x, f.vertex3.y - f.vertex1.y, f.vertex3.z - f.vertex1.z};
        const float fc[3] = {fu[1] * fw[2] - fu[2] * fw[1], fu[2] * fw[0] - fu[0] * fw[2], fu[0] * fw[1] - fu[1] * fw[0]};
        const float fl = std::sqrt(fc[0] * fc[0] + fc[1] * fc[1] + fc[2] * fc[2]);
        if (fl > 0 && std::isfinite(fl)
            && (std::fabs(fc[0] / fl - f.normal.x) > 0.001f || std::fabs(fc[1] / fl - f.normal.y) > 0.001f
                || std::fabs(fc[2] / fl - f.normal.z) > 0.001f))
            ++report.singleOff;
        report.area += 0.5 * cl;
        report.volume += (ax * cx + ay * cy + az * cz) / 6.0;
    }
    report.vertices = int(vertices.size());
    int undirected = 0;
    auto point = [](const Key &k) { return geom::Point3Df(std::get<0>(k), std::get<1>(k), std::get<2>(k)); };
    for (const auto &entry : directed) {
        if (entry.second > 1)
            ++report.overusedEdges;
        const auto opposite = directed.find(std::make_pair(entry.first.second, entry.first.first));
        if (opposite == directed.end() || opposite->second != entry.second)
            ++report.unpairedEdges;
        if (entry.second > 1 || opposite == directed.end() || opposite->second != entry.second)
            report.faultyEdges.append({point(entry.first.first), point(entry.first.second), entry.second});
        if (entry.first.first < entry.first.second || opposite == directed.end())
            ++undirected;
    }
    report.edges = undirected;
    return report;
}

struct Export
{
    QByteArray bytes;
    QList<int> progress;
    int finished = 0;
    bool succeeded = false;
    bool cancelled = false;
    QString error;
    StlFile stl;
};

// Runs an export into a buffer on this thread; hook, when given, is called
// with the exporter at every progress value.
inline Export exportSlices(const QList<Slice> &slices, float minimumThickness = 0,
                           const std::function<void(geom::StlExporter &, int)> &hook = nullptr, QIODevice *device = nullptr)
{
    Export result;
    QBuffer buffer;
    if (!device) {
        buffer.open(QIODevice::WriteOnly);
        device = &buffer;
    }
    geom::StlExporter exporter(device, slices);
    exporter.setMinimumThickness(minimumThickness);
    QObject::connect(&exporter, &geom::StlExporter::progress, [&](int value) {
        result.progress.append(value);
        if (hook)
            hook(exporter, value);
    });
    QObject::connect(&exporter, &geom::StlExporter::finished, [&] { ++result.finished; });
    exporter.run();
    result.succeeded = exporter.succeeded();
    result.cancelled = exporter.wasCancelled();
    result.error = exporter.errorString();
    result.bytes = buffer.data();
    result.stl = readStl(result.bytes);
    return result;
}

} // namespace stltest

#endif // STLTESTUTIL_H
