#ifndef GEOM_INTERSECTIONPOINTS_H
#define GEOM_INTERSECTIONPOINTS_H

namespace geom {

// Up to two points found by an intersection or a projection, for 2D and 3D
// points alike. count is 0 (no point), 1 (p1, with p2 equal to it) or 2.
template <typename P>
struct IntersectionPoints
{
    P p1 = P();
    P p2 = P();
    int count = 0;

    // The first point fills both slots; a later one becomes p2 unless it is
    // exactly p1 (every coordinate).
    void add(const P &pt)
    {
        if (count == 0) {
            p1 = pt;
            p2 = pt;
            count = 1;
        } else if (!(pt == p1)) {
            p2 = pt;
            count = 2;
        }
    }
    const P &last() const { return count == 2 ? p2 : p1; }

    // The points that pass test, in order, added to a fresh record.
    template <typename Test>
    IntersectionPoints filtered(Test test) const
    {
        IntersectionPoints r;
        if (count >= 1 && test(p1))
            r.add(p1);
        if (count == 2 && test(p2))
            r.add(p2);
        return r;
    }

    // Both points moved by offset; the count is kept.
    IntersectionPoints translated(const P &offset) const
    {
        IntersectionPoints r(*this);
        r.p1 = p1 + offset;
        r.p2 = p2 + offset;
        return r;
    }
};

} // namespace geom

#endif // GEOM_INTERSECTIONPOINTS_H
