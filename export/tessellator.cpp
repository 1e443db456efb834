#include "tessellator.h"

#include <QtGlobal>

#include <GL/glu.h>

#include <algorithm>
#include <cfloat>
#include <climits>
#include <cmath>
#include <cstring>
#include <deque>
#include <memory>
#include <new>
#include <tuple>
#include <type_traits>

namespace geom {

namespace {

// GLU's winding rule enumeration starts here, in the order of WindingRule.
constexpr int kGluWindingBase = GLU_TESS_WINDING_ODD;

// One vertex record: D values of T, laid out like the caller's points.
template <typename T, int D>
struct Record
{
    T v[D] = {};
};

// Output and owned vertices of one vertex type. The stored vertices sit in a
// deque because GLU holds their addresses as vertex data until the polygon is
// tessellated, and a deque never moves its elements when it grows at the end.
template <typename T, int D>
struct Output
{
    QVector<QVector<T> *> primitives;
    std::unique_ptr<std::deque<Record<T, D>>> stored;
};

// Converts an input value to the coordinate type: false when it cannot be
// represented (not finite, or out of the type's range).
bool toCoordinate(double in, double &out)
{
    out = in;
    return std::isfinite(in);
}
bool toCoordinate(double in, float &out)
{
    if (!std::isfinite(in) || std::fabs(in) > double(FLT_MAX))
        return false;
    out = float(in);
    return true;
}
bool toCoordinate(double in, int &out)
{
    if (!std::isfinite(in))
        return false;
    const double t = std::trunc(in);
    if (t < double(INT_MIN) || t > double(INT_MAX))
        return false;
    out = int(t);
    return true;
}

// Combined vertices: GLU's weighted position, narrowed; ints round half away
// from zero. GLU only combines inputs it accepted, so the range holds.
double combinedCoordinate(double c, double *)
{
    return c;
}
float combinedCoordinate(double c, float *)
{
    return float(qBound(double(-FLT_MAX), c, double(FLT_MAX)));
}
int combinedCoordinate(double c, int *)
{
    return int(qBound(double(INT_MIN), std::round(c), double(INT_MAX)));
}

} // namespace

class TessellatorPrivate
{
public:
    GLUtesselator *tess = nullptr;
    double z = 0.0;
    int vertexType = Tessellator::Float2D;
    int state = Tessellator::Idle;
    float normal[3] = {0.0f, 0.0f, 0.0f};
    bool snapCombined = false;
    // The last polygon failed; its output is dropped when it ends.
    bool failed = false;
    // GLU began a primitive the wrapper cannot hold: its vertices are dropped.
    bool discarding = false;
    // The public routine that is talking to GLU, for the failure message.
    const char *routine = "Tessellator";
    std::tuple<Output<double, 2>, Output<double, 3>, Output<float, 2>, Output<float, 3>, Output<int, 2>,
               Output<int, 3>>
        outputs;

    template <typename T, int D>
    Output<T, D> &output()
    {
        return std::get<Output<T, D>>(outputs);
    }
    template <typename T, int D>
    const Output<T, D> &output() const
    {
        return std::get<Output<T, D>>(outputs);
    }

    // Marks the polygon failed; only its first failure is reported.
    void fail(const char *what)
    {
        if (!failed)
            qWarning("%s: %s", routine, what);
        failed = true;
    }
};

namespace {

// The operations of one vertex type: T the coordinate type, D the values per
// record (2 or 3). GLU's polygon data is the tessellator's private object.
template <typename T, int D>
struct Block
{
    using Rec = Record<T, D>;

    static Output<T, D> &out(TessellatorPrivate *d) { return d->output<T, D>(); }

    static Rec readRecord(const void *address)
    {
        Rec r;
        std::memcpy(r.v, address, sizeof(r.v));
        return r;
    }

    static void toGlu(const TessellatorPrivate *d, const Rec &r, GLdouble coords[3])
    {
        coords[0] = double(r.v[0]);
        coords[1] = double(r.v[1]);
        coords[2] = D == 3 ? double(r.v[D - 1]) : d->z;
    }

    static void GLAPIENTRY begin(GLenum type, void *data)
    {
        TessellatorPrivate *d = static_cast<TessellatorPrivate *>(data);
        if (type != GL_TRIANGLES && type != GL_LINE_LOOP) {
            if (!d->failed)
                qWarning("%s: Unhandled OpenGL element %d", d->routine, int(type));
            d->failed = true;
            d->discarding = true;
            return;
        }
        d->discarding = false;
        try {
            out(d).primitives.append(new QVector<T>);
        } catch (const std::bad_alloc &) {
            d->fail("Out of memory");
            d->discarding = true;
        }
    }

    static void GLAPIENTRY vertex(void *vertexData, void *data)
    {
        TessellatorPrivate *d = static_cast<TessellatorPrivate *>(data);
        Output<T, D> &o = out(d);
        if (d->discarding || o.primitives.isEmpty())
            return;
        if (!vertexData) {
            d->fail("Vertex without data");
            return;
        }
        const Rec r = readRecord(vertexData);
        try {
            QVector<T> &primitive = *o.primitives.last();
            for (int i = 0; i < D; ++i)
                primitive.append(r.v[i]);
        } catch (const std::bad_alloc &) {
            d->fail("Out of memory");
            d->discarding = true;
        }
    }

    static void GLAPIENTRY combine(GLdouble coords[3], void *vertexData[4], GLfloat weight[4], void **outData,
                                   void *data)
    {
        TessellatorPrivate *d = static_cast<TessellatorPrivate *>(data);
        if (d->snapCombined) {
            // GLU merges two coincident vertices with the weights 0.5, 0.5, 0, 0
            // and null data in the last two inputs; never hand back a null.
            int pick = 0;
            if (weight[3] >= weight[pick] && vertexData[3])
                pick = 3;
            if (weight[1] > weight[pick] && vertexData[1])
                pick = 1;
            if (weight[2] > weight[pick] && vertexData[2])
                pick = 2;
            if (!vertexData[pick]) {
                for (int i = 0; i < 4 && !vertexData[pick]; ++i)
                    pick = i;
            }
            *outData = vertexData[pick];
            return;
        }
        Rec r;
        for (int i = 0; i < D; ++i)
            r.v[i] = combinedCoordinate(coords[i], static_cast<T *>(nullptr));
        *outData = store(d, r);
    }

    static void registerCallbacks(GLUtesselator *tess)
    {
        gluTessCallback(tess, GLU_TESS_BEGIN_DATA, reinterpret_cast<_GLUfuncptr>(&Block::begin));
        gluTessCallback(tess, GLU_TESS_COMBINE_DATA, reinterpret_cast<_GLUfuncptr>(&Block::combine));
        gluTessCallback(tess, GLU_TESS_VERTEX_DATA, reinterpret_cast<_GLUfuncptr>(&Block::vertex));
    }

    // The stored record's address, or null (polygon failed) when memory ran out.
    static Rec *store(TessellatorPrivate *d, const Rec &r)
    {
        Output<T, D> &o = out(d);
        try {
            if (!o.stored)
                o.stored.reset(new std::deque<Rec>);
            o.stored->push_back(r);
            return &o.stored->back();
        } catch (const std::bad_alloc &) {
            d->fail("Out of memory");
            return nullptr;
        }
    }

    static void addVertex(TessellatorPrivate *d, double x, double y, double z)
    {
        const double in[3] = {x, y, z};
        Rec r;
        for (int i = 0; i < D; ++i) {
            if (!toCoordinate(in[i], r.v[i])) {
                d->fail("Vertex coordinate not representable");
                return;
            }
        }
        Rec *stored = store(d, r);
        if (!stored)
            return;
        GLdouble coords[3];
        toGlu(d, r, coords);
        gluTessVertex(d->tess, coords, stored);
    }

    // Feeds |count| records forwards, or backwards when count is negative. The
    // whole contour is checked first, so that nothing GLU cannot digest (NaN
    // sends its sweep astray) reaches it.
    static bool addContour(TessellatorPrivate *d, const void *data, int count)
    {
        const char *base = static_cast<const char *>(data);
        const qint64 n = count < 0 ? -qint64(count) : qint64(count);
        if (!std::is_same<T, int>::value || D == 2) {
            for (qint64 i = 0; i < n; ++i) {
                const Rec r = readRecord(base + i * qint64(sizeof(Rec)));
                GLdouble coords[3];
                toGlu(d, r, coords);
                if (!std::isfinite(coords[0]) || !std::isfinite(coords[1]) || !std::isfinite(coords[2])) {
                    d->fail("Coordinate not finite");
                    return false;
                }
            }
        }
        for (qint64 k = 0; k < n; ++k) {
            const qint64 i = count < 0 ? n - 1 - k : k;
            const char *address = base + i * qint64(sizeof(Rec));
            GLdouble coords[3];
            toGlu(d, readRecord(address), coords);
            gluTessVertex(d->tess, coords, const_cast<char *>(address));
        }
        return true;
    }

    static bool hasOutput(TessellatorPrivate *d)
    {
        const Output<T, D> &o = out(d);
        return !o.primitives.isEmpty() || o.stored;
    }

    static void clear(TessellatorPrivate *d)
    {
        Output<T, D> &o = out(d);
        qDeleteAll(o.primitives);
        o.primitives.clear();
        o.stored.reset();
    }

    static void dropPrimitives(TessellatorPrivate *d)
    {
        Output<T, D> &o = out(d);
        qDeleteAll(o.primitives);
        o.primitives.clear();
    }

    static QVector<const QVector<T> *> polygons(const TessellatorPrivate *d, int type)
    {
        QVector<const QVector<T> *> result;
        if (d->vertexType != type)
            return result;
        const Output<T, D> &o = d->output<T, D>();
        result.reserve(o.primitives.size());
        for (const QVector<T> *p : o.primitives)
            result.append(p);
        return result;
    }

    static Point3Df corner(const TessellatorPrivate *d, const T *v)
    {
        return Point3Df(float(v[0]), float(v[1]), D == 3 ? float(v[D - 1]) : float(d->z));
    }

    static QVector<Facet> triangles(const TessellatorPrivate *d)
    {
        QVector<Facet> result;
        const Output<T, D> &o = d->output<T, D>();
        if (o.primitives.isEmpty())
            return result;
        const QVector<T> &values = *o.primitives.first();
        const int count = values.size() / (3 * D);
        result.reserve(count);
        Point3Df normal(d->normal[0], d->normal[1], d->normal[2]);
        const T *v = values.constData();
        for (int t = 0; t < count; ++t, v += 3 * D) {
            const Point3Df p = corner(d, v);
            const Point3Df q = corner(d, v + D);
            const Point3Df r = corner(d, v + 2 * D);
            if (p == q || q == r || p == r)
                continue;
            if (std::fabs(normal.x) <= 1e-5f && std::fabs(normal.y) <= 1e-5f && std::fabs(normal.z) <= 1e-5f) {
                normal = Facet(p, q, r, Point3Df::zero).computeNormal();
                // A collinear triangle has no direction: its facet carries the
                // zero normal and the next triangle tries again.
                if (!std::isfinite(normal.x) || !std::isfinite(normal.y) || !std::isfinite(normal.z))
                    normal = Point3Df::zero;
            }
            result.append(Facet(p, q, r, normal));
        }
        return result;
    }

    static void collect(const TessellatorPrivate *d, Slice &slice)
    {
        for (const QVector<T> *p : d->output<T, D>().primitives) {
            const int n = p->size() / D;
            QVector<Point2Df> points;
            points.reserve(n);
            const T *v = p->constData();
            for (int i = 0; i < n; ++i, v += D)
                points.append(Point2Df(float(v[0]), float(v[1])));
            slice.addContour(Contour(std::move(points)));
        }
    }
};

// Calls f with the Block of the vertex type; false for an unknown type.
template <typename F>
bool withBlock(int type, F &&f)
{
    switch (type) {
    case Tessellator::Double2D:
        f(Block<double, 2>());
        return true;
    case Tessellator::Double3D:
        f(Block<double, 3>());
        return true;
    case Tessellator::Float2D:
        f(Block<float, 2>());
        return true;
    case Tessellator::Float3D:
        f(Block<float, 3>());
        return true;
    case Tessellator::Int2D:
        f(Block<int, 2>());
        return true;
    case Tessellator::Int3D:
        f(Block<int, 3>());
        return true;
    default:
        return false;
    }
}

// Every block, for clearing whatever any polygon left.
template <typename F>
void forEachBlock(F &&f)
{
    for (int type = Tessellator::Double2D; type <= Tessellator::Int3D; ++type)
        withBlock(type, f);
}

bool isFiniteSlice(const Slice &slice)
{
    return std::isfinite(slice.z());
}

} // namespace

// A primitive ends where the next one begins.
void GLAPIENTRY tessEndCallback(void *)
{
}

// Registered only so that GLU emits independent triangles, never fans or strips.
void GLAPIENTRY tessEdgeFlagCallback(GLboolean, void *)
{
}

// GLU's errors fail the polygon under way instead of the program.
void GLAPIENTRY tessErrorCallback(GLenum error, void *data)
{
    TessellatorPrivate *d = static_cast<TessellatorPrivate *>(data);
    const char *text = reinterpret_cast<const char *>(gluErrorString(error));
    if (!d) {
        qWarning("Tessellator: Tessellation error %d (%s)", int(error), text ? text : "");
        return;
    }
    if (!d->failed)
        qWarning("%s: Tessellation error %d (%s)", d->routine, int(error), text ? text : "");
    d->failed = true;
}

Tessellator::Tessellator(int windingRule)
    : d(new TessellatorPrivate)
{
    d->tess = gluNewTess();
    if (!d->tess) {
        qWarning("Tessellator: Out of memory");
        d->failed = true;
        return;
    }
    gluTessCallback(d->tess, GLU_TESS_END_DATA, reinterpret_cast<_GLUfuncptr>(&tessEndCallback));
    gluTessCallback(d->tess, GLU_TESS_ERROR_DATA, reinterpret_cast<_GLUfuncptr>(&tessErrorCallback));
    setBoundaryOnly(false);
    setTolerance(0.0);
    if (!setWindingRule(windingRule))
        setWindingRule(WindingOdd);
}

Tessellator::~Tessellator()
{
    clear();
    if (d->tess)
        gluDeleteTess(d->tess);
    delete d;
}

bool Tessellator::beginPolygon(int vertexType, const double *normal)
{
    clear();
    d->failed = false;
    d->discarding = false;
    d->routine = "Tessellator::beginPolygon";
    if (!d->tess) {
        d->fail("No GLU tessellator");
        return false;
    }
    if (vertexType < Double2D || vertexType > Int3D) {
        d->fail("Unknown vertex type");
        return false;
    }
    withBlock(vertexType, [this](auto block) { decltype(block)::registerCallbacks(d->tess); });
    gluTessCallback(d->tess, GLU_TESS_EDGE_FLAG_DATA,
                    isBoundaryOnly() ? nullptr : reinterpret_cast<_GLUfuncptr>(&tessEdgeFlagCallback));

    double n[3] = {0.0, 0.0, 0.0};
    if (normal) {
        if (std::isfinite(normal[0]) && std::isfinite(normal[1]) && std::isfinite(normal[2])) {
            std::copy(normal, normal + 3, n);
        } else {
            d->fail("Normal not finite");
        }
        for (int i = 0; i < 3; ++i)
            d->normal[i] = float(qBound(double(-FLT_MAX), n[i], double(FLT_MAX)));
    } else {
        const Point3Df chosen = (vertexType & 1) ? Point3Df::zero : Point3Df(0.0f, 0.0f, 1.0f);
        d->normal[0] = chosen.x;
        d->normal[1] = chosen.y;
        d->normal[2] = chosen.z;
        for (int i = 0; i < 3; ++i)
            n[i] = double(d->normal[i]);
    }
    gluTessNormal(d->tess, n[0], n[1], n[2]);
    gluTessBeginPolygon(d->tess, d);
    d->vertexType = vertexType;
    d->state = InPolygon;
    return !d->failed;
}

void Tessellator::beginContour()
{
    if (d->state == Idle)
        return;
    if (d->state == InContour)
        endContour();
    gluTessBeginContour(d->tess);
    d->state = InContour;
}

void Tessellator::endContour()
{
    if (d->state != InContour)
        return;
    gluTessEndContour(d->tess);
    d->state = InPolygon;
}

bool Tessellator::endPolygon()
{
    if (d->state == Idle)
        return !d->failed;
    if (d->state == InContour)
        endContour();
    d->routine = "Tessellator::endPolygon";
    gluTessEndPolygon(d->tess);
    d->state = Idle;
    d->discarding = false;
    if (d->failed)
        withBlock(d->vertexType, [this](auto block) { decltype(block)::dropPrimitives(d); });
    return !d->failed;
}

int Tessellator::finish()
{
    if (!endPolygon())
        return -1;
    int count = 0;
    withBlock(d->vertexType, [this, &count](auto block) {
        count = decltype(block)::out(d).primitives.size();
    });
    return count;
}

void Tessellator::addContour(const void *data, int count)
{
    if (!data || d->state == Idle || (count > -3 && count < 3))
        return;
    if (d->failed)
        return;
    d->routine = "Tessellator::addContour";
    const bool ownContour = d->state == InPolygon;
    if (ownContour)
        beginContour();
    withBlock(d->vertexType, [this, data, count](auto block) { decltype(block)::addContour(d, data, count); });
    if (ownContour)
        endContour();
}

void Tessellator::addVertex(double x, double y, double z)
{
    if (d->state != InContour || d->failed)
        return;
    d->routine = "Tessellator::addVertex";
    withBlock(d->vertexType, [this, x, y, z](auto block) { decltype(block)::addVertex(d, x, y, z); });
}

void Tessellator::clear()
{
    endPolygon();
    bool any = false;
    forEachBlock([this, &any](auto block) { any = any || decltype(block)::hasOutput(d); });
    if (!any)
        return;
    forEachBlock([this](auto block) { decltype(block)::clear(d); });
}

Tessellator::State Tessellator::state() const
{
    return State(d->state);
}

int Tessellator::vertexType() const
{
    return d->vertexType;
}

bool Tessellator::failed() const
{
    return d->failed;
}

bool Tessellator::setZ(double z)
{
    if (d->state != Idle || !std::isfinite(z))
        return false;
    d->z = z;
    return true;
}

double Tessellator::z() const
{
    return d->z;
}

bool Tessellator::setWindingRule(int rule)
{
    if (d->state != Idle || !d->tess || rule < WindingOdd || rule > WindingAbsGeqTwo)
        return false;
    gluTessProperty(d->tess, GLU_TESS_WINDING_RULE, double(kGluWindingBase + rule));
    return true;
}

int Tessellator::windingRule() const
{
    if (!d->tess)
        return WindingOdd;
    GLdouble value = 0.0;
    gluGetTessProperty(d->tess, GLU_TESS_WINDING_RULE, &value);
    return int(value) - kGluWindingBase;
}

bool Tessellator::setBoundaryOnly(bool on)
{
    if (d->state != Idle || !d->tess)
        return false;
    clear();
    gluTessProperty(d->tess, GLU_TESS_BOUNDARY_ONLY, on ? 1.0 : 0.0);
    return true;
}

bool Tessellator::isBoundaryOnly() const
{
    if (!d->tess)
        return false;
    GLdouble value = 0.0;
    gluGetTessProperty(d->tess, GLU_TESS_BOUNDARY_ONLY, &value);
    return value != 0.0;
}

bool Tessellator::setTolerance(double tolerance)
{
    // GLU takes NaN without complaint and then compares with it.
    if (d->state != Idle || !d->tess || std::isnan(tolerance) || tolerance > 1.0)
        return false;
    gluTessProperty(d->tess, GLU_TESS_TOLERANCE, std::max(tolerance, 0.0));
    return true;
}

double Tessellator::tolerance() const
{
    if (!d->tess)
        return 0.0;
    GLdouble value = 0.0;
    gluGetTessProperty(d->tess, GLU_TESS_TOLERANCE, &value);
    return value;
}

bool Tessellator::setSnapCombined(bool on)
{
    if (d->state != Idle)
        return false;
    clear();
    d->snapCombined = on;
    return true;
}

bool Tessellator::snapCombined() const
{
    return d->snapCombined;
}

QVector<Facet> Tessellator::vertices() const
{
    QVector<Facet> result;
    if (d->state != Idle || isBoundaryOnly())
        return result;
    withBlock(d->vertexType, [this, &result](auto block) { result = decltype(block)::triangles(d); });
    return result;
}

QVector<const QVector<double> *> Tessellator::polygons2Dd() const
{
    return Block<double, 2>::polygons(d, Double2D);
}

QVector<const QVector<double> *> Tessellator::polygons3Dd() const
{
    return Block<double, 3>::polygons(d, Double3D);
}

QVector<const QVector<float> *> Tessellator::polygons2Df() const
{
    return Block<float, 2>::polygons(d, Float2D);
}

QVector<const QVector<float> *> Tessellator::polygons3Df() const
{
    return Block<float, 3>::polygons(d, Float3D);
}

QVector<const QVector<int> *> Tessellator::polygons2Di() const
{
    return Block<int, 2>::polygons(d, Int2D);
}

QVector<const QVector<int> *> Tessellator::polygons3Di() const
{
    return Block<int, 3>::polygons(d, Int3D);
}

int Tessellator::feedSlice(const Slice &slice, bool reversed)
{
    bool ownPolygon = false;
    if (d->state == Idle) {
        const bool zValid = isFiniteSlice(slice);
        if (zValid)
            d->z = slice.z();
        beginPolygon(Float2D);
        if (!zValid) {
            d->routine = "Tessellator::addSlice";
            d->fail("Slice height not finite");
        }
        ownPolygon = true;
    } else if (d->vertexType != Float2D) {
        return 0;
    }
    int fed = 0;
    const int count = slice.contourCount();
    for (int i = 0; i < count; ++i) {
        const QVector<Point2Df> &points = slice.contourAt(i).points();
        if (points.size() < 3)
            continue;
        beginContour();
        addContour(points.constData(), reversed ? -points.size() : points.size());
        endContour();
        ++fed;
    }
    if (ownPolygon)
        endPolygon();
    return fed;
}

void Tessellator::addSlice(const Slice &slice, bool reversed)
{
    feedSlice(slice, reversed);
}

Slice Tessellator::collectSlice(float thickness) const
{
    Slice slice(float(d->z), thickness);
    if (d->state != Idle)
        return slice;
    withBlock(d->vertexType, [this, &slice](auto block) { decltype(block)::collect(d, slice); });
    return slice;
}

namespace {

Tessellator::OutlineStatus outlineStatus(const Tessellator &tess, int fed, const Slice &outline)
{
    if (tess.failed())
        return Tessellator::OutlineFailed;
    return fed > 0 && outline.contourCount() == 0 ? Tessellator::OutlineEmpty : Tessellator::OutlineOk;
}

} // namespace

Slice Tessellator::outline(const Slice &slice, OutlineStatus *status)
{
    clear();
    setBoundaryOnly(true);
    const int fed = feedSlice(slice, false);
    Slice result = collectSlice(slice.thickness());
    if (status)
        *status = outlineStatus(*this, fed, result);
    return result;
}

Slice Tessellator::outline(const QVector<Point2Df> &polygon, OutlineStatus *status)
{
    clear();
    setBoundaryOnly(true);
    beginPolygon(Float2D);
    addContour(polygon.constData(), polygon.size());
    endPolygon();
    Slice result = collectSlice(0.0f);
    if (status)
        *status = outlineStatus(*this, polygon.size() >= 3 ? 1 : 0, result);
    return result;
}

Slice Tessellator::booleanOperation(const Slice &a, const Slice &b, int rule, bool reverseB)
{
    clear();
    const bool zValid = setZ(a.z());
    setBoundaryOnly(true);
    setWindingRule(rule);
    beginPolygon(Float2D);
    if (!zValid) {
        d->routine = "Tessellator::addSlice";
        d->fail("Slice height not finite");
    }
    feedSlice(a, false);
    feedSlice(b, reverseB);
    endPolygon();
    return collectSlice(a.thickness());
}

Slice Tessellator::unite(const Slice &a, const Slice &b)
{
    return booleanOperation(a, b, WindingPositive, false);
}

Slice Tessellator::intersect(const Slice &a, const Slice &b)
{
    return booleanOperation(a, b, WindingAbsGeqTwo, false);
}

Slice Tessellator::intersect(const Contour &a, const Contour &b)
{
    Slice sa(0.0f, 0.0f);
    sa.addContour(a);
    Slice sb(0.0f, 0.0f);
    sb.addContour(b);
    return intersect(sa, sb);
}

Slice Tessellator::subtract(const Slice &a, const Slice &b)
{
    return booleanOperation(a, b, WindingPositive, true);
}

Slice Tessellator::subtract(const Contour &a, const Contour &b)
{
    Slice sa(0.0f, 0.0f);
    sa.addContour(a);
    Slice sb(0.0f, 0.0f);
    sb.addContour(b);
    return subtract(sa, sb);
}

QList<Facet> Tessellator::triangleFacets(const Point3Df &normal) const
{
    QList<Facet> result;
    if (d->state != Idle)
        return result;
    auto read = [this, &normal, &result](auto block) {
        using B = decltype(block);
        constexpr int D = sizeof(typename B::Rec) / sizeof(float);
        const auto &primitives = B::out(d).primitives;
        if (primitives.isEmpty())
            return;
        const QVector<float> &values = *primitives.first();
        const int count = values.size() / (3 * D);
        result.reserve(count);
        const float *v = values.constData();
        for (int t = 0; t < count; ++t, v += 3 * D)
            result.append(Facet(B::corner(d, v), B::corner(d, v + D), B::corner(d, v + 2 * D), normal));
    };
    if (d->vertexType == Float2D)
        read(Block<float, 2>());
    else if (d->vertexType == Float3D)
        read(Block<float, 3>());
    return result;
}

QList<Facet> Tessellator::facets(const Slice &slice, bool downward)
{
    const Point3Df normal(0.0f, 0.0f, downward ? -1.0f : 1.0f);
    const double n[3] = {0.0, 0.0, downward ? -1.0 : 1.0};
    clear();
    const bool zValid = setZ(slice.z());
    setBoundaryOnly(false);
    beginPolygon(Float2D, n);
    if (!zValid) {
        d->routine = "Tessellator::facets";
        d->fail("Slice height not finite");
    }
    // Seen along a downward normal a counter-clockwise contour turns the other way; fed
    // reversed it keeps its positive winding, and the triangles come out facing down.
    feedSlice(slice, downward);
    endPolygon();
    return triangleFacets(normal);
}

QList<Facet> Tessellator::facets(const Contour &contour)
{
    Slice slice(0.0f, 0.0f);
    slice.addContour(contour);
    return facets(slice, false);
}

QList<Facet> Tessellator::facets(const QList<QVector<Point3Df>> &polygons, const Point3Df &normal)
{
    const double n[3] = {double(normal.x), double(normal.y), double(normal.z)};
    clear();
    setBoundaryOnly(false);
    beginPolygon(Float3D, n);
    for (const QVector<Point3Df> &polygon : polygons)
        addContour(polygon.constData(), polygon.size());
    endPolygon();
    return triangleFacets(normal);
}

QList<Facet> Tessellator::facets(const QVector<Point3Df> &polygon, const Point3Df &normal)
{
    return facets(QList<QVector<Point3Df>>{polygon}, normal);
}

// Works on the boundary loops (boundary-only on): triangles would come back as
// one contour of all their corners, which no area threshold can sort out.
Slice Tessellator::filterSmallContours(const Slice &slice, double minArea)
{
    clear();
    setBoundaryOnly(true);
    feedSlice(slice, false);
    Slice loops = collectSlice(slice.thickness());
    loops.sortByArea(false);
    const QVector<Contour> &contours = loops.contours();
    int keep = contours.size();
    while (keep > 0 && std::fabs(contours.at(keep - 1).area()) <= minArea)
        --keep;
    if (keep == contours.size())
        return loops;
    return Slice(loops.z(), loops.thickness(), contours.mid(0, keep));
}

Slice Tessellator::filterSmallContours(const Contour &contour, double minArea)
{
    Slice slice(0.0f, 0.0f);
    slice.addContour(contour);
    return filterSmallContours(slice, minArea);
}

} // namespace geom
