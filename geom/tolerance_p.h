#ifndef GEOM_TOLERANCE_P_H
#define GEOM_TOLERANCE_P_H

// The tolerances of the util2D and util3D families; not part of the kernel's
// interface. Each is compared exactly as written.

namespace geom {
namespace tolerance {

// The float tolerance, 9.999999747378752e-06.
constexpr float T5f = 1e-5f;
constexpr double T12 = 1e-12;
// A distance of 1e-5, squared: one unit in the last place above 1e-10.
constexpr double T10 = 1e-5 * 1e-5;

} // namespace tolerance
} // namespace geom

#endif // GEOM_TOLERANCE_P_H
