#ifndef DECIMALFORMAT_H
#define DECIMALFORMAT_H

#include <QString>

// How the main window and its reports print a real number for the user: fixed notation with
// the chosen number of decimals, or, with a negative count, the shortest fixed-notation text
// that reads back as the same single-precision value (the model's coordinates are floats, so
// that is every digit they have).
class DecimalFormat
{
public:
    static QString number(double value, int decimals);
};

#endif // DECIMALFORMAT_H
