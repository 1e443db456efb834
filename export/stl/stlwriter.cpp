#include "stlwriter.h"

#include "mesh/stlmesh.h"
#include "mesh/vertexpoints.h"
#include "utiltx.h"

#include <QFileDevice>
#include <QIODevice>
#include <QMatrix4x4>
#include <QSaveFile>
#include <QtEndian>

#include <cmath>
#include <cstring>
#include <vector>

// Records are copied from the facets' memory as they are.
static_assert(Q_BYTE_ORDER == Q_LITTLE_ENDIAN, "STL records are written straight from little-endian memory");

namespace {

constexpr int headerSize = 80;
constexpr int dataOffset = 84;
constexpr int facetBytes = 48;
constexpr int recordSize = 50;
// Records are gathered into blocks of this many before they go to the device,
// so a large model costs few device calls.
constexpr int blockRecords = 1024;

} // namespace

class StlWriterPrivate
{
public:
    explicit StlWriterPrivate(QIODevice *dev) : device(dev), header(headerSize, ' ') {}

    // Records one failure; the first message is kept.
    void fail(const QString &what)
    {
        if (failed)
            return;
        failed = true;
        const QString reason = device ? device->errorString() : QString();
        errorString = reason.isEmpty() || reason == QLatin1String("Unknown error") ? what : what + QLatin1String(": ") + reason;
    }

    bool writeBytes(const char *data, qint64 size, const char *what)
    {
        const qint64 n = device->write(data, size);
        if (n != size) {
            fail(QString::fromLatin1(what));
            return false;
        }
        return true;
    }

    // One record, mapped through the matrix unless it is the identity.
    void fillRecord(char *out, const geom::Facet &facet, quint16 attr) const
    {
        if (identity) {
            std::memcpy(out, &facet, facetBytes);
        } else {
            const geom::Facet mapped = map(facet);
            std::memcpy(out, &mapped, facetBytes);
        }
        qToLittleEndian(attr, out + facetBytes);
    }

    // Sends the block to the device; false on a failed or short write, with
    // the facets that reached the device completely still counted.
    bool flushBlock()
    {
        if (blockUsed == 0)
            return true;
        const qint64 size = qint64(blockUsed) * recordSize;
        const qint64 n = device->write(block.data(), size);
        const int done = n == size ? blockUsed : (n > 0 ? int(n / recordSize) : 0);
        facetCount += done;
        written += done;
        blockUsed = 0;
        if (n != size) {
            fail(QStringLiteral("Cannot write STL facets"));
            return false;
        }
        return true;
    }

    // Records 0 to count - 1, each made by fill(record memory, i); stops at
    // the first block the device does not take whole.
    template <typename FillRecord>
    int writeRecords(int count, FillRecord fill)
    {
        const int before = written;
        if (block.size() < size_t(blockRecords * recordSize))
            block.resize(size_t(blockRecords * recordSize));
        for (int i = 0; i < count; ++i) {
            fill(block.data() + blockUsed * recordSize, i);
            ++blockUsed;
            if (blockUsed == blockRecords && !flushBlock())
                return written - before;
        }
        flushBlock();
        return written - before;
    }

    template <typename FacetAt>
    int writeFacets(int count, FacetAt facetAt, const quint16 *attributes)
    {
        return writeRecords(count, [&](char *out, int i) {
            fillRecord(out, facetAt(i), attributes ? attributes[i] : attribute);
        });
    }

    geom::Facet map(const geom::Facet &facet) const
    {
        geom::Facet out = facet;
        utilTX::map3Df(&out.vertex1, matrix, &facet.vertex1, 3);
        if (mirrors)
            std::swap(out.vertex2, out.vertex3);
        if (singular) {
            out.normal = geom::triangleNormal(out.vertex1, out.vertex2, out.vertex3);
        } else {
            const geom::Point3Df &n = facet.normal;
            out.normal = geom::Point3Df(float(normalMatrix[0] * n.x + normalMatrix[1] * n.y + normalMatrix[2] * n.z),
                                        float(normalMatrix[3] * n.x + normalMatrix[4] * n.y + normalMatrix[5] * n.z),
                                        float(normalMatrix[6] * n.x + normalMatrix[7] * n.y + normalMatrix[8] * n.z));
            out.normal.setLength(1.0);
        }
        return out;
    }

    // The cofactor matrix of the linear part is its inverse transpose times
    // the determinant; the sign of the determinant is put back so that normals
    // keep pointing the same way out of the mapped surface.
    void updateMatrix()
    {
        identity = matrix.isIdentity();
        mirrors = false;
        singular = false;
        if (identity)
            return;
        double a[3][3];
        for (int r = 0; r < 3; ++r)
            for (int c = 0; c < 3; ++c)
                a[r][c] = double(matrix(r, c));
        double cof[3][3];
        for (int r = 0; r < 3; ++r) {
            for (int c = 0; c < 3; ++c) {
                const int r1 = (r + 1) % 3, r2 = (r + 2) % 3, c1 = (c + 1) % 3, c2 = (c + 2) % 3;
                cof[r][c] = a[r1][c1] * a[r2][c2] - a[r1][c2] * a[r2][c1];
            }
        }
        const double det = a[0][0] * cof[0][0] + a[0][1] * cof[0][1] + a[0][2] * cof[0][2];
        double scale = 0.0;
        for (int r = 0; r < 3; ++r)
            for (int c = 0; c < 3; ++c)
                scale = std::fmax(scale, std::fabs(a[r][c]));
        // A flattening matrix has no inverse: its facets get the normals of
        // their mapped vertices.
        singular = !(std::fabs(det) > 1e-12 * scale * scale * scale);
        mirrors = det < 0.0;
        const double sign = mirrors ? -1.0 : 1.0;
        for (int r = 0; r < 3; ++r)
            for (int c = 0; c < 3; ++c)
                normalMatrix[3 * r + c] = sign * cof[r][c];
    }

    QIODevice *device;
    int facetCount = 0;
    int written = 0;
    int expected = 0;
    QByteArray header;
    quint16 attribute = 0;
    QMatrix4x4 matrix;
    double normalMatrix[9] = {1, 0, 0, 0, 1, 0, 0, 0, 1};
    bool identity = true;
    bool mirrors = false;
    bool singular = false;
    // begin() opened or found the device writable once: a device closed
    // later is never reopened, since opening it again would truncate the file.
    bool started = false;
    bool finishCalled = false;
    bool finished = false;
    bool failed = false;
    QString errorString;
    std::vector<char> block;
    int blockUsed = 0;
};

StlWriter::StlWriter(QIODevice *device) : d(new StlWriterPrivate(device))
{
    if (device) {
        const qint64 pos = device->pos();
        if (pos != 0)
            qWarning("%s", qPrintable(QStringLiteral("StlWriter is given a used QIODevice, position %1").arg(pos)));
    }
}

StlWriter::~StlWriter()
{
    if (d->facetCount != 0 && !d->finishCalled)
        finish();
    delete d;
}

bool StlWriter::begin(int expected)
{
    QIODevice *device = d->device;
    if (!device || d->finishCalled || d->failed)
        return false;
    if (!device->isOpen()) {
        if (d->started)
            return false;
        if (!device->open(QIODevice::WriteOnly)) {
            d->fail(QStringLiteral("Cannot open the STL file for writing"));
            return false;
        }
    } else if (!device->isWritable()) {
        return false;
    }
    // Neither can take the count back at offset 80: a sequential device cannot
    // seek, and one opened to append writes everything at its end.
    if (device->isSequential() || (device->openMode() & QIODevice::Append))
        return false;
    d->started = true;

    const qint64 pos = device->pos();
    d->written = 0;
    d->expected = expected;
    if (pos < dataOffset) {
        if (pos > 0 && !device->seek(0)) {
            d->fail(QStringLiteral("Cannot seek to the STL header"));
            return false;
        }
        if (!d->writeBytes(d->header.constData(), headerSize, "Cannot write the STL header"))
            return false;
        d->facetCount = 0;
        const char zero[4] = {0, 0, 0, 0};
        if (!d->writeBytes(zero, 4, "Cannot write the STL facet count"))
            return false;
    }
    return device->pos() >= dataOffset && !d->failed;
}

int StlWriter::write(int count, const geom::Facet *facets, const quint16 *attributes)
{
    if (!begin(count))
        return -1;
    if (!facets || count <= 0)
        return 0;
    return d->writeFacets(count, [facets](int i) -> const geom::Facet & { return facets[i]; }, attributes);
}

int StlWriter::write(const QVector<geom::Facet> &facets)
{
    return write(facets.size(), facets.constData(), nullptr);
}

int StlWriter::write(const QList<geom::Facet> &facets)
{
    if (!begin(facets.size()))
        return -1;
    return d->writeFacets(facets.size(), [&facets](int i) -> const geom::Facet & { return facets.at(i); }, nullptr);
}

bool StlWriter::write(const geom::Facet &facet, int attribute)
{
    if (!begin(0))
        return false;
    const quint16 attr = attribute < 0 ? d->attribute : quint16(attribute);
    return d->writeFacets(1, [&facet](int) -> const geom::Facet & { return facet; }, &attr) == 1;
}

int StlWriter::write(const geom::StlMesh &mesh)
{
    // One state of the mesh, taken under its lock; other threads may go on
    // changing the mesh while it is written.
    QVector<QVector3D> vertices;
    QVector<geom::StlMesh::Triangle> triangles;
    mesh.snapshot(vertices, triangles);
    if (!begin(triangles.size()))
        return -1;
    if (!d->identity && !vertices.isEmpty()) {
        geom::Point3Df *v = geom::asPoints(vertices.data());
        utilTX::map3Df(v, d->matrix, v, vertices.size());
    }
    const geom::Point3Df *v = geom::asPoints(vertices.constData());
    const geom::StlMesh::Triangle *t = triangles.constData();
    const bool swap = d->mirrors;
    return d->writeRecords(triangles.size(), [v, t, swap](char *out, int i) {
        const geom::StlMesh::Triangle &tri = t[i];
        const geom::Facet facet(v[tri.a], v[swap ? tri.c : tri.b], v[swap ? tri.b : tri.c]);
        std::memcpy(out, &facet, facetBytes);
        qToLittleEndian(quint16(tri.attribute & 0xffff), out + facetBytes);
    });
}

int StlWriter::finish()
{
    QIODevice *device = d->device;
    if (!device || d->finishCalled || !device->isWritable())
        return d->facetCount;
    d->finishCalled = true;
    // Without a whole header there is no count to patch.
    if (device->size() < dataOffset || !device->seek(80)) {
        d->fail(QStringLiteral("Cannot seek to the STL facet count"));
        return d->facetCount;
    }
    char count[4];
    qToLittleEndian(quint32(d->facetCount), count);
    d->writeBytes(count, 4, "Cannot write the STL facet count");

    // A file device reports a full disk only when its buffer reaches the disk.
    QFileDevice *file = qobject_cast<QFileDevice *>(device);
    if (file && !file->flush())
        d->fail(QStringLiteral("Cannot write the STL file"));
    device->seek(device->size());
    // A QSaveFile must not be closed; its owner commits it, or not, after
    // looking at failed().
    if (!qobject_cast<QSaveFile *>(device)) {
        device->close();
        if (file && file->error() != QFileDevice::NoError)
            d->fail(QStringLiteral("Cannot close the STL file"));
    }
    d->finished = !d->failed;
    return d->facetCount;
}

bool StlWriter::failed() const
{
    return d->failed;
}

QString StlWriter::errorString() const
{
    return d->errorString;
}

bool StlWriter::isFinished() const
{
    return d->finished;
}

QIODevice *StlWriter::device() const
{
    return d->device;
}

int StlWriter::facetCount() const
{
    return d->facetCount;
}

float StlWriter::progress() const
{
    return d->expected == 0 ? 0.0f : float(d->written) / float(d->expected);
}

quint16 StlWriter::attribute() const
{
    return d->attribute;
}

void StlWriter::setAttribute(quint16 attribute)
{
    d->attribute = attribute;
}

const QByteArray &StlWriter::header() const
{
    return d->header;
}

void StlWriter::setHeader(const QByteArray &text)
{
    d->header = text.left(headerSize).leftJustified(headerSize, ' ');
}

const QMatrix4x4 &StlWriter::matrix() const
{
    return d->matrix;
}

void StlWriter::setMatrix(const QMatrix4x4 &matrix)
{
    d->matrix = matrix;
    d->updateMatrix();
}
