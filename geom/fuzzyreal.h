#ifndef GEOM_FUZZYREAL_H
#define GEOM_FUZZYREAL_H

#include <cmath>
#include <limits>

namespace geom {

template <typename T>
struct FuzzyRealTraits;

template <>
struct FuzzyRealTraits<double>
{
    static constexpr double relativeTolerance = 1e-12;
};

template <>
struct FuzzyRealTraits<float>
{
    static constexpr float relativeTolerance = 1e-5f;
};

// A real number that compares with a relative tolerance, so that heights and
// coordinates read from files match although they carry rounding noise.
//
// The tolerance of a comparison with y is min(|y|, |value|) x relativeTolerance:
// it scales with the smaller magnitude, so any comparison with 0 is exact, and
// with a NaN on either side every comparison (!= included) is false.
template <typename T>
class FuzzyReal
{
public:
    static constexpr T epsilon = std::numeric_limits<T>::epsilon();
    static constexpr T max = std::numeric_limits<T>::max();
    static constexpr T relativeTolerance = FuzzyRealTraits<T>::relativeTolerance;

    T value;

    constexpr FuzzyReal() : value(T(0)) {}
    constexpr FuzzyReal(T v) : value(v) {}

    T tolerance(T y) const { return std::fmin(std::fabs(y), std::fabs(value)) * relativeTolerance; }
    T tolerance() const { return std::fabs(value * relativeTolerance); }

    bool isNaN() const { return std::isnan(value); }
    // Against the machine epsilon and the largest finite value, not the
    // relative tolerance; NaN is neither zero nor finite.
    bool isZero() const { return std::fabs(value) <= epsilon; }
    bool isFinite() const { return std::fabs(value) <= max; }
    bool operator!() const { return isZero(); }
    explicit operator bool() const { return !isZero(); }
    explicit operator T() const { return value; }

    bool operator==(T y) const { return value == y || tolerance(y) >= std::fabs(value - y); }
    bool operator!=(T y) const { return value != y && std::fabs(value - y) > tolerance(y); }
    bool operator<(T y) const { return value != y && y - value > tolerance(y); }
    bool operator<=(T y) const { return value == y || tolerance(y) >= value - y; }
    bool operator>(T y) const { return value != y && value - y > tolerance(y); }
    bool operator>=(T y) const { return value == y || tolerance(y) >= y - value; }

    T operator+(T y) const { return value + y; }
    T operator-(T y) const { return value - y; }
    T operator*(T y) const { return value * y; }
    T operator/(T y) const { return value / y; }
    // Floating remainder with the sign of value.
    T operator%(T y) const { return std::fmod(value, y); }
    T operator^(T e) const { return std::pow(value, e); }
    T operator^(int n) const { return T(std::pow(value, n)); }

    FuzzyReal &operator=(T v)
    {
        value = v;
        return *this;
    }
    FuzzyReal &operator+=(T y)
    {
        value += y;
        return *this;
    }
    FuzzyReal &operator-=(T y)
    {
        value -= y;
        return *this;
    }
    FuzzyReal &operator*=(T y)
    {
        value *= y;
        return *this;
    }
    FuzzyReal &operator/=(T y)
    {
        value /= y;
        return *this;
    }
    FuzzyReal &operator%=(T y)
    {
        value = std::fmod(value, y);
        return *this;
    }
    FuzzyReal &operator^=(T e)
    {
        value = std::pow(value, e);
        return *this;
    }
    FuzzyReal &operator^=(int n)
    {
        value = T(std::pow(value, n));
        return *this;
    }

    // Rounds to the nearest multiple of step, halves away from zero. A step of
    // 0 has no multiples to round to, so the value is left as it is.
    void roundTo(T step)
    {
        if (step == T(0))
            return;
        const double q = double(value / step);
        value = T(std::round(q) * double(step));
    }
};

extern template class FuzzyReal<double>;
extern template class FuzzyReal<float>;

} // namespace geom

#endif // GEOM_FUZZYREAL_H
