#include "fuzzyreal.h"

namespace geom {

template class FuzzyReal<double>;
template class FuzzyReal<float>;

} // namespace geom
