#ifndef SLCTESTUTIL_H
#define SLCTESTUTIL_H

// Fixtures for the SLC reader and writer tests: a builder for SLC bytes, a
// pipe-like device, a device that runs out of room, and a measure of peak
// memory.

#include "point2d.h"

#include <QByteArray>
#include <QFile>
#include <QIODevice>
#include <QVector>
#include <QtEndian>

#include <algorithm>
#include <cstring>
#include <functional>

namespace slctest {

// An axis-parallel square (or rectangle) from (x0, y0) to (x1, y1), counter-clockwise when
// x0 < x1 and y0 < y1.
inline QVector<geom::Point2Df> square(float x0, float y0, float x1, float y1)
{
    return QVector<geom::Point2Df>{{x0, y0}, {x1, y0}, {x1, y1}, {x0, y1}};
}

inline QVector<geom::Point2Df> reversed(QVector<geom::Point2Df> points)
{
    std::reverse(points.begin(), points.end());
    return points;
}

inline quint32 bits(float f)
{
    quint32 b;
    std::memcpy(&b, &f, sizeof b);
    return b;
}

// Assembles an SLC file field by field, little-endian.
class SlcBytes
{
public:
    static constexpr const char *defaultHeaderText = "-SLCVER 2.0 -UNIT MM -TYPE PART";

    SlcBytes &raw(const QByteArray &bytes)
    {
        m_bytes += bytes;
        return *this;
    }
    SlcBytes &byte(int value)
    {
        m_bytes += char(value);
        return *this;
    }
    SlcBytes &int32(qint32 value)
    {
        char b[4];
        qToLittleEndian(value, b);
        m_bytes.append(b, 4);
        return *this;
    }
    SlcBytes &real(float value) { return int32(qint32(bits(value))); }

    // Header text, CR LF 0x1A and the reserved block.
    SlcBytes &header(const QByteArray &text = defaultHeaderText)
    {
        return raw(text).raw(QByteArray("\r\n\x1A", 3)).raw(QByteArray(256, '\0'));
    }
    SlcBytes &sampleTable(int entries = 1)
    {
        byte(entries);
        for (int i = 0; i < entries; ++i)
            real(0.1f * float(i + 1)).real(0.1f).real(0.0f).real(0.0f);
        return *this;
    }
    SlcBytes &preamble(const QByteArray &text = defaultHeaderText) { return header(text).sampleTable(); }
    SlcBytes &layer(float z, qint32 boundaries) { return real(z).int32(boundaries); }
    SlcBytes &boundary(const QVector<geom::Point2Df> &points, qint32 gaps = 0)
    {
        int32(points.size()).int32(gaps);
        for (const geom::Point2Df &p : points)
            real(p.x).real(p.y);
        return *this;
    }
    SlcBytes &terminator(float z) { return real(z).int32(-1); }

    int size() const { return m_bytes.size(); }
    const QByteArray &bytes() const { return m_bytes; }
    operator QByteArray() const { return m_bytes; }

private:
    QByteArray m_bytes;
};

// A read-only device that, like a pipe, cannot tell how much data is left.
// Records the largest read request, which bounds what a reader allocates
// ahead of the data.
class PipeDevice : public QIODevice
{
public:
    explicit PipeDevice(const QByteArray &data)
        : m_data(data)
    {
        open(QIODevice::ReadOnly | QIODevice::Unbuffered);
    }
    bool isSequential() const override { return true; }
    qint64 largestRead() const { return m_largestRead; }

protected:
    qint64 readData(char *data, qint64 maxSize) override
    {
        m_largestRead = std::max(m_largestRead, maxSize);
        const qint64 n = std::min<qint64>(maxSize, m_data.size() - m_pos);
        if (n <= 0)
            return -1;
        std::memcpy(data, m_data.constData() + m_pos, size_t(n));
        m_pos += n;
        return n;
    }
    qint64 writeData(const char *, qint64) override { return -1; }

private:
    QByteArray m_data;
    qint64 m_pos = 0;
    qint64 m_largestRead = 0;
};

// A random-access device that takes at most `room` bytes, then writes short
// (like a full disk).
class FullDevice : public QIODevice
{
public:
    explicit FullDevice(qint64 room)
        : m_room(room)
    {
    }
    const QByteArray &written() const { return m_written; }
    qint64 size() const override { return m_written.size(); }

protected:
    qint64 readData(char *, qint64) override { return -1; }
    qint64 writeData(const char *data, qint64 size) override
    {
        const qint64 at = pos();
        const qint64 n = std::max<qint64>(0, std::min(size, m_room - at));
        if (m_written.size() < at + n)
            m_written.resize(int(at + n));
        std::memcpy(m_written.data() + at, data, size_t(n));
        return n;
    }

private:
    qint64 m_room;
    QByteArray m_written;
};

// Growth of the process's peak resident memory while work runs, in KiB; -1
// where the peak cannot be reset (not Linux, or no permission).
inline qint64 peakMemoryGrowthKiB(const std::function<void()> &work)
{
    const auto peak = []() -> qint64 {
        QFile status(QStringLiteral("/proc/self/status"));
        if (!status.open(QIODevice::ReadOnly))
            return -1;
        for (const QByteArray &line : status.readAll().split('\n')) {
            if (line.startsWith("VmHWM:"))
                return line.mid(6).trimmed().split(' ').value(0).toLongLong();
        }
        return -1;
    };
    const auto rss = []() -> qint64 {
        QFile status(QStringLiteral("/proc/self/status"));
        if (!status.open(QIODevice::ReadOnly))
            return -1;
        for (const QByteArray &line : status.readAll().split('\n')) {
            if (line.startsWith("VmRSS:"))
                return line.mid(6).trimmed().split(' ').value(0).toLongLong();
        }
        return -1;
    };
    QFile clear(QStringLiteral("/proc/self/clear_refs"));
    if (!clear.open(QIODevice::WriteOnly) || clear.write("5") != 1)
        return -1;
    clear.close();
    const qint64 before = rss();
    work();
    const qint64 after = peak();
    if (before < 0 || after < 0)
        return -1;
    return std::max<qint64>(0, after - before);
}

} // namespace slctest

#endif // SLCTESTUTIL_H
