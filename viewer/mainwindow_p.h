#ifndef MAINWINDOW_P_H
#define MAINWINDOW_P_H

// Shared by the source files of MainWindow only: the settings it keeps, with their limits and
// defaults, and the small helpers all its parts use.

#include <QDir>
#include <QLatin1String>
#include <QString>
#include <QVariant>

#include <cmath>

namespace MainWindowSettings {

inline const QLatin1String decimalPlacesKey("MainWindow/DecimalPlaces");
constexpr int decimalPlacesDefault = 3;
// -1 shows every digit.
constexpr int decimalPlacesMinimum = -1;
constexpr int decimalPlacesMaximum = 15;

inline const QLatin1String framesPerSecondKey("MainWindow/PlayFramesPerSecond");
constexpr int framesPerSecondDefault = 20;
constexpr int framesPerSecondMinimum = 1;
constexpr int framesPerSecondMaximum = 250;

inline const QLatin1String windowStateKey("MainWindow/WindowState");
inline const QLatin1String lastDirectoryKey("MainWindow/LastDirectory");
inline const QLatin1String lastSaveDirectoryKey("MainWindow/LastSaveDirectory");
inline const QLatin1String lastExportDirectoryKey("MainWindow/LastExportDirectory");

inline const QLatin1String animationsKey("SliceView/Animations");
constexpr bool animationsDefault = true;
inline const QLatin1String openGLKey("SliceView/OpenGL");
constexpr bool openGLDefault = false;
inline const QLatin1String gridVisibleKey("SliceView/GridEnabled");
constexpr bool gridVisibleDefault = true;
inline const QLatin1String gridIntervalKey("SliceView/GridSize");
constexpr double gridIntervalDefault = 1.0;
constexpr double gridIntervalMinimum = 0.1;
inline const QLatin1String verticesKey("SliceView/Vertices");
constexpr bool verticesDefault = true;

} // namespace MainWindowSettings

// A stored setting within its limits; `fallback` where none is stored or it is no number.
inline int boundedInt(const QVariant &stored, int fallback, int minimum, int maximum)
{
    bool ok = false;
    const int value = stored.toInt(&ok);
    return ok ? qBound(minimum, value, maximum) : fallback;
}

inline double boundedReal(const QVariant &stored, double fallback, double minimum, double maximum)
{
    bool ok = false;
    const double value = stored.toDouble(&ok);
    return ok && std::isfinite(value) ? qBound(minimum, value, maximum) : fallback;
}

inline QString nativePath(const QString &path)
{
    return QDir::toNativeSeparators(path);
}

// A message and, on a line of its own, the system's reason for the failure where one is known.
inline QString withReason(const QString &text, const QString &reason)
{
    return reason.isEmpty() ? text : text + QLatin1Char('\n') + reason;
}

#endif // MAINWINDOW_P_H
