#ifndef BENCHMEMORY_H
#define BENCHMEMORY_H

#include <QByteArray>
#include <QFile>

// Memory figures of this process from /proc: a field of /proc/self/status in KiB (-1 when it
// cannot be read), and a reset of the peak (VmHWM) so a benchmark can measure its own.
inline qint64 statusKiB(const char *key)
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (line.startsWith(key))
            return line.mid(int(qstrlen(key))).trimmed().split(' ').value(0).toLongLong();
    }
    return -1;
}

inline bool resetPeakMemory()
{
    QFile clear(QStringLiteral("/proc/self/clear_refs"));
    return clear.open(QIODevice::WriteOnly) && clear.write("5") == 1;
}

#endif // BENCHMEMORY_H
