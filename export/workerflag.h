#ifndef WORKERFLAG_H
#define WORKERFLAG_H

#include <QAtomicInt>
#include <QtGlobal>

namespace geom {

// The run state of an export engine that runs on a pool thread: whether a
// run is under way, and whether a cancel was asked for. The cancel is sticky:
// it is never cleared, so a cancel that arrives before run() starts, or at
// any moment of the run, is honoured. Every member may be called from any
// thread.
class WorkerFlag
{
public:
    // Marks a run as under way; false, with a critical message naming the
    // engine, when one already is: an engine runs once at a time.
    bool claim(const char *engine)
    {
        int flags = m_flags.loadAcquire();
        do {
            if (flags & Running) {
                qCritical("This %s instance is currently running!", engine);
                return false;
            }
        } while (!m_flags.testAndSetOrdered(flags, flags | Running, flags));
        return true;
    }
    void release() { m_flags.fetchAndAndOrdered(~int(Running)); }
    void cancel() { m_flags.fetchAndOrOrdered(CancelRequested); }
    bool isRunning() const { return m_flags.loadAcquire() & Running; }
    bool cancelled() const { return m_flags.loadAcquire() & CancelRequested; }

private:
    enum Bits { Running = 1, CancelRequested = 2 };
    QAtomicInt m_flags = 0;
};

} // namespace geom

#endif // WORKERFLAG_H
