#include "polygonsimplifier.h"

namespace geom {

template class PolygonSimplifier<Point2Df>;
template class PolygonSimplifier<Point2Dd>;

} // namespace geom
