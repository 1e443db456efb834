#ifndef TESTDEVICES_H
#define TESTDEVICES_H

#include <QByteArray>
#include <QIODevice>

#include <algorithm>

// A pipe-like device: sequential, reports only a few bytes as available (more
// is "still to come"), hands out as much as is asked for while data lasts and
// records the largest single read request.
class SequentialDevice : public QIODevice
{
public:
    explicit SequentialDevice(const QByteArray &data, int visible = 7) : m_data(data), m_visible(visible)
    {
        open(QIODevice::ReadOnly | QIODevice::Unbuffered);
    }

    bool isSequential() const override { return true; }
    qint64 bytesAvailable() const override { return std::min<qint64>(m_visible, m_data.size() - m_pos) + QIODevice::bytesAvailable(); }
    qint64 largestRead() const { return m_largestRead; }

protected:
    qint64 readData(char *data, qint64 maxSize) override
    {
        m_largestRead = std::max(m_largestRead, maxSize);
        const qint64 n = std::min<qint64>(maxSize, m_data.size() - m_pos);
        std::copy_n(m_data.constData() + m_pos, n, data);
        m_pos += int(n);
        return n;
    }
    qint64 writeData(const char *, qint64) override { return -1; }

private:
    QByteArray m_data;
    int m_visible;
    int m_pos = 0;
    qint64 m_largestRead = 0;
};

// Accepts at most `room` bytes in total, then writes short.
class FullDevice : public QIODevice
{
public:
    explicit FullDevice(qint64 room) : m_room(room) { open(QIODevice::WriteOnly | QIODevice::Unbuffered); }

    bool isSequential() const override { return true; }
    const QByteArray &written() const { return m_written; }

protected:
    qint64 readData(char *, qint64) override { return -1; }
    qint64 writeData(const char *data, qint64 size) override
    {
        const qint64 n = std::min(size, m_room - qint64(m_written.size()));
        m_written.append(data, int(n));
        return n;
    }

private:
    qint64 m_room;
    QByteArray m_written;
};

#endif // TESTDEVICES_H
