#include "marchingcubesmesher.h"

#include "marchingcubes.h"
#include "marchingcubes_p.h"
#include "rastercodes.h"

#include <QMutexLocker>

#include <array>
#include <cstring>

namespace geom {

namespace {

// Corners in cube-code bit order: the lower layer's cell corners top-left,
// top-right, bottom-right, bottom-left (y down as in the images), then the
// upper layer's.
const int cornerAt[8][3] = {{-1, -1, -1}, {1, -1, -1}, {1, 1, -1}, {-1, 1, -1},
                            {-1, -1, 1},  {1, -1, 1},  {1, 1, 1},  {-1, 1, 1}};
const int edgeCorners[12][2] = {{0, 1}, {1, 2}, {2, 3}, {3, 0}, {4, 5}, {5, 6},
                                {6, 7}, {7, 4}, {0, 4}, {1, 5}, {2, 6}, {3, 7}};

struct TriangleTable
{
    // Per code: the count, then the edge numbers. Loops use each of the 12
    // edges at most once, so a code has at most ten triangles.
    std::array<std::array<qint8, 37>, 256> rows{};

    TriangleTable()
    {
        const std::array<std::array<int, 4>, 6> faces = orientedFaces();
        for (int code = 0; code < 256; ++code) {
            auto solid = [code](int corner) { return (code >> corner & 1) != 0; };
            // Each face cuts off every run of solid corners (counted
            // counter-clockwise seen from outside) by one segment from the
            // crossing where the run starts to the crossing where it ends.
            int next[12];
            std::fill(next, next + 12, -1);
            for (const auto &face : faces) {
                for (int i = 0; i < 4; ++i) {
                    const int prev = face[(i + 3) % 4], cur = face[i];
                    if (solid(prev) || !solid(cur))
                        continue; // not the start of a solid run
                    int j = i;
                    while (solid(face[(j + 1) % 4]))
                        j = (j + 1) % 4;
                    next[edgeOf(prev, cur)] = edgeOf(face[j], face[(j + 1) % 4]);
                }
            }
            // Chain the segments into loops and fan each loop from its first
            // crossing.
            bool used[12] = {};
            int n = 0;
            for (int start = 0; start < 12; ++start) {
                if (next[start] < 0 || used[start])
                    continue;
                QVector<int> loop;
                for (int e = start; !used[e]; e = next[e]) {
                    used[e] = true;
                    loop.append(e);
                }
                for (const std::array<int, 3> &t : triangulateLoop(loop)) {
                    rows[code][1 + n++] = qint8(t[2]);
                    rows[code][1 + n++] = qint8(t[1]);
                    rows[code][1 + n++] = qint8(t[0]);
                }
            }
            rows[code][0] = qint8(n);
        }
    }

    // Whether the midpoints of two edges lie in one face of the cube.
    static bool shareFace(int e, int f)
    {
        const GridPoint a = MarchingCubesMesher::edgeMidpoint(e), b = MarchingCubesMesher::edgeMidpoint(f);
        return (a.x != 0 && a.x == b.x) || (a.y != 0 && a.y == b.y) || (a.z != 0 && a.z == b.z);
    }

    // The loop's triangles (corners in loop order), none of whose inner
    // edges joins two midpoints of one cube face. A triangle flat in a face,
    // or an inner edge along one, is met by the cube on the other side of
    // that face, which cuts the face alike: the two cubes would put the same
    // triangle back to back, or use one edge four times. The fan from the
    // first crossing is kept where it is clean; otherwise the first clean
    // fan, otherwise any clean triangulation.
    static QVector<std::array<int, 3>> triangulateLoop(const QVector<int> &loop)
    {
        const int n = loop.size();
        // Loop neighbours are joined by the face cuts themselves.
        auto joinable = [&](int i, int j) {
            const int d = (j - i + n) % n;
            return d == 1 || d == n - 1 || !shareFace(loop[i], loop[j]);
        };
        QVector<std::array<int, 3>> triangles;
        for (int s = 0; s < n; ++s) {
            bool clean = true;
            for (int i = 2; i + 1 < n && clean; ++i)
                clean = joinable(s, (s + i) % n);
            if (!clean)
                continue;
            for (int i = 1; i + 1 < n; ++i)
                triangles.append({loop[s], loop[(s + i) % n], loop[(s + i + 1) % n]});
            return triangles;
        }
        // Interval search: split[i][j] is a corner k that closes a clean
        // triangulation of the run i..j with the chord i-j, or -1.
        int split[12][12];
        for (int len = 1; len < n; ++len) {
            for (int i = 0; i + len < n; ++i) {
                const int j = i + len;
                split[i][j] = len == 1 ? i : -1;
                for (int k = i + 1; k < j && split[i][j] < 0 && len > 1; ++k) {
                    if (joinable(i, k) && joinable(k, j) && split[i][k] >= 0 && split[k][j] >= 0)
                        split[i][j] = k;
                }
            }
        }
        if (split[0][n - 1] < 0) {
            qWarning("MarchingCubes: no clean triangulation of a cube loop");
            for (int i = 1; i + 1 < n; ++i)
                triangles.append({loop[0], loop[i], loop[i + 1]});
            return triangles;
        }
        QVector<std::pair<int, int>> runs{{0, n - 1}};
        while (!runs.isEmpty()) {
            const auto run = runs.takeLast();
            if (run.second - run.first < 2)
                continue;
            const int k = split[run.first][run.second];
            triangles.append({loop[run.first], loop[k], loop[run.second]});
            runs.append({run.first, k});
            runs.append({k, run.second});
        }
        return triangles;
    }

    static int edgeOf(int a, int b)
    {
        for (int e = 0; e < 12; ++e) {
            if ((edgeCorners[e][0] == a && edgeCorners[e][1] == b) || (edgeCorners[e][0] == b && edgeCorners[e][1] == a))
                return e;
        }
        return -1;
    }

    // The six faces, each as its corners counter-clockwise seen from outside.
    static std::array<std::array<int, 4>, 6> orientedFaces()
    {
        std::array<std::array<int, 4>, 6> faces{};
        int f = 0;
        for (int axis = 0; axis < 3; ++axis) {
            for (int sign : {-1, 1}) {
                const int u = (axis + 1) % 3, v = (axis + 2) % 3;
                // Around the face: (-,-), (+,-), (+,+), (-,+) in (u, v), which
                // turns counter-clockwise about +axis.
                const int around[4][2] = {{-1, -1}, {1, -1}, {1, 1}, {-1, 1}};
                std::array<int, 4> corners{};
                for (int i = 0; i < 4; ++i) {
                    for (int c = 0; c < 8; ++c) {
                        if (cornerAt[c][axis] == sign && cornerAt[c][u] == around[i][0] && cornerAt[c][v] == around[i][1])
                            corners[i] = c;
                    }
                }
                if (sign < 0)
                    std::swap(corners[1], corners[3]);
                faces[f++] = corners;
            }
        }
        return faces;
    }
};

const TriangleTable &table()
{
    static const TriangleTable instance;
    return instance;
}

bool uniformWord(const uchar *p)
{
    quint64 w;
    std::memcpy(&w, p, 8);
    return w == 0 || w == ~quint64(0);
}

} // namespace

QVector<int> MarchingCubesMesher::triangleEdges(int code)
{
    const auto &row = table().rows[size_t(code & 0xFF)];
    QVector<int> edges;
    for (int i = 0; i < row[0]; ++i)
        edges.append(row[size_t(1 + i)]);
    return edges;
}

GridPoint MarchingCubesMesher::edgeMidpoint(int edge)
{
    const int *a = cornerAt[edgeCorners[edge][0]];
    const int *b = cornerAt[edgeCorners[edge][1]];
    return GridPoint(qint16((a[0] + b[0]) / 2), qint16((a[1] + b[1]) / 2), qint16((a[2] + b[2]) / 2));
}

void MarchingCubesMesher::meshLayerPair(const QImage &cubeCodes, int k, QList<GridSurface> &surfaces,
                                        const std::atomic<bool> *cancel)
{
    const TriangleTable &t = table();
    GridPoint midpoints[12];
    for (int e = 0; e < 12; ++e)
        midpoints[e] = edgeMidpoint(e);
    const int w = cubeCodes.width();
    for (int y = 0; y < cubeCodes.height(); ++y) {
        if (cancel && cancel->load())
            return;
        const uchar *line = cubeCodes.constScanLine(y);
        for (int x = 0; x < w; ++x) {
            // Whole runs of empty or solid cubes are skipped eight at a time.
            if ((x & 7) == 0 && x + 8 <= w && uniformWord(line + x)) {
                x += 7;
                continue;
            }
            const auto &row = t.rows[line[x]];
            const int cx = 2 * x, cy = 2 * y, cz = 2 * k;
            for (int i = 0; i < row[0]; i += 3) {
                GridPoint p[3];
                for (int j = 0; j < 3; ++j) {
                    const GridPoint &m = midpoints[row[size_t(1 + i + j)]];
                    p[j] = GridPoint(qint16(cx + m.x), qint16(cy + m.y), qint16(cz + m.z));
                }
                addGridTriangle(surfaces, GridFacet(p[2], p[1], p[0]));
            }
        }
    }
}

void MarchingCubesMesher::run()
{
    const QList<qint64> offsets = d->index.values();
    const QList<float> heights = d->index.keys();
    QList<GridSurface> local;
    for (int k = first; k < end; ++k) {
        const int step = d->advance();
        if (step == 0)
            break;
        // Outside every lock: a receiver may block this thread until the
        // progress is shown.
        emit d->q->progress(step);
        const QImage upper = d->readLayer(offsets.at(k));
        if (upper.isNull()) {
            qCritical("MarchingCubes: Failed to seek %.2f topology", double(heights.at(k)));
            d->fail(MarchingCubes::tr("The layer at z = %1 could not be read back from the temporary file.")
                        .arg(double(heights.at(k))));
            break;
        }
        const QImage codes = cubeCodeImage(previous, upper);
        if (codes.isNull()) {
            d->fail(MarchingCubes::tr("The layers at z = %1 and z = %2 differ in size.")
                        .arg(double(heights.at(k - 1)))
                        .arg(double(heights.at(k))));
            break;
        }
        meshLayerPair(codes, k, local, &d->cancelled);
        previous = upper;
    }
    *results = local;
}

} // namespace geom
