#include "slcmemorybudget_p.h"

#include "contour.h"
#include "point2d.h"
#include "slice.h"

#include <QArrayData>
#include <QFile>
#include <QThreadPool>

#include <algorithm>
#include <limits>

#if defined(Q_OS_LINUX)
#include <sys/resource.h>
#endif

namespace {

const qint64 unlimited = std::numeric_limits<qint64>::max();

// What the allocator takes for a block of size bytes: its own word before the block, rounded
// up to 16 bytes, never less than 32 (glibc's chunks on 64-bit systems; near enough elsewhere).
qint64 heapBlock(qint64 size)
{
    return std::max<qint64>(32, (size + qint64(sizeof(void *)) + 15) & ~qint64(15));
}

// Arranging the slices in a stack keeps, beside each slice, where its totals are (4 bytes) and,
// when the order changes, its place in the order and in the permutation that applies it (8).
const qint64 arrangingPerSlice = 12;
// Beside a slice with contours it keeps as well the totals (48), a place in the list of work (16)
// and an entry in the table of shared contour lists (40).
const qint64 arrangingWithContours = 104;

// Kept free of the model: the rest of the program, and the blocks and jobs of the parallel pass.
const qint64 margin = qint64(64) << 20;
// Each thread that reads layers may open a heap arena of its own (64 MiB of address space with
// glibc) beside its stack.
const qint64 addressPerThread = qint64(72) << 20;

#if defined(Q_OS_LINUX)
// A "Key:  value kB" line of a /proc file, in bytes; -1 when it is not there.
qint64 procKiB(const char *path, const QByteArray &key)
{
    QFile file(QString::fromLatin1(path));
    if (!file.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &line : file.readAll().split('\n')) {
        if (line.startsWith(key)) {
            bool ok = false;
            const qint64 kib = line.mid(key.size()).trimmed().split(' ').value(0).toLongLong(&ok);
            return ok ? kib * 1024 : -1;
        }
    }
    return -1;
}
#endif

} // namespace

SlcMemoryBudget::SlcMemoryBudget()
    : m_limit(unlimited)
{
}

void SlcMemoryBudget::start(qint64 limit)
{
    m_limit = limit;
    m_used = 0;
}

bool SlcMemoryBudget::take(qint64 bytes)
{
    if (bytes > m_limit - m_used)
        return false;
    m_used += bytes;
    return true;
}

void SlcMemoryBudget::give(qint64 bytes)
{
    m_used = std::max<qint64>(0, m_used - bytes);
}

qint64 SlcMemoryBudget::availableNow()
{
    qint64 available = unlimited;
#if defined(Q_OS_LINUX)
    const qint64 free = procKiB("/proc/meminfo", "MemAvailable:");
    if (free >= 0)
        available = free;
    rlimit limit;
    if (getrlimit(RLIMIT_AS, &limit) == 0 && limit.rlim_cur != RLIM_INFINITY) {
        const qint64 used = procKiB("/proc/self/status", "VmSize:");
        const qint64 threads = QThreadPool::globalInstance()->maxThreadCount();
        const qint64 left = qint64(limit.rlim_cur) - std::max<qint64>(0, used) - threads * addressPerThread;
        available = std::min(available, left);
    }
#endif
    if (available == unlimited)
        return unlimited;
    return std::max<qint64>(0, available - margin);
}

qint64 SlcMemoryBudget::sliceCost()
{
    // The list's pointer to the slice, with room for the list to grow, and the slice's own block.
    // A slice without contours shares its body with every other one.
    return 2 * qint64(sizeof(void *)) + heapBlock(sizeof(Slice)) + arrangingPerSlice;
}

qint64 SlcMemoryBudget::contoursCost(qint64 count)
{
    if (count <= 0)
        return 0;
    return heapBlock(sizeof(Slice::Data)) + arrangingWithContours
        + heapBlock(qint64(sizeof(QArrayData)) + count * qint64(sizeof(Contour)));
}

qint64 SlcMemoryBudget::verticesCost(qint64 count)
{
    return count > 0 ? heapBlock(qint64(sizeof(QArrayData)) + count * qint64(sizeof(geom::Point2Df))) : 0;
}
