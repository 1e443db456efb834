#include "seriesreplacement_p.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMap>
#include <QRegularExpression>

#include <atomic>
#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdio>

namespace geom {

namespace {

const QString newSuffix = QStringLiteral("quarne-new");
const QString oldSuffix = QStringLiteral("quarne-old");

// Tells the runs of one process apart, so that two exports into one folder never share a name.
std::atomic<quint64> runsStarted{0};

// rename(2): replaces an existing target in one step, which QFile::rename never does.
bool renameOver(const QString &from, const QString &to, QString *reason = nullptr)
{
    if (::rename(QFile::encodeName(from).constData(), QFile::encodeName(to).constData()) == 0)
        return true;
    if (reason)
        *reason = qt_error_string(errno);
    return false;
}

bool present(const QFileInfo &info)
{
    return info.exists() || info.isSymLink();
}

// The file a write to `name` replaces: a symbolic link stays and its file is replaced.
QString finalTarget(const QString &name)
{
    QFileInfo info(name);
    for (int depth = 0; depth < 128 && info.isSymLink(); ++depth)
        info.setFile(info.symLinkTarget());
    return info.isSymLink() ? name : info.filePath();
}

QString hiddenName(const QString &target, const QString &run, const QString &suffix)
{
    const QFileInfo info(target);
    return QStringLiteral("%1/.%2.%3.%4").arg(info.path(), info.fileName(), run, suffix);
}

// Whether the process that made a hidden name may still be writing: this one, or one that
// exists (also under another user).
bool mayBeRunning(qint64 pid)
{
    if (pid == QCoreApplication::applicationPid())
        return true;
    return ::kill(pid_t(pid), 0) == 0 || errno == EPERM;
}

} // namespace

SeriesReplacement::SeriesReplacement(const QStringList &files)
{
    const QString run = QStringLiteral("%1-%2").arg(QCoreApplication::applicationPid()).arg(runsStarted++);
    entries.resize(files.size());
    for (int k = 0; k < files.size(); ++k) {
        Entry &e = entries[k];
        e.target = finalTarget(files.at(k));
        e.temporary = hiddenName(e.target, run, newSuffix);
        e.setAside = hiddenName(e.target, run, oldSuffix);
    }
}

SeriesReplacement::~SeriesReplacement()
{
    discard();
    dropSetAside();
}

int SeriesReplacement::size() const
{
    return entries.size();
}

const QString &SeriesReplacement::target(int k) const
{
    return entries.at(k).target;
}

const QString &SeriesReplacement::temporary(int k) const
{
    return entries.at(k).temporary;
}

void SeriesReplacement::setWritten(int k)
{
    entries[k].written = true;
}

bool SeriesReplacement::commit(int *failed, QString *reason, QStringList *unrestored)
{
    for (int k = 0; k < entries.size(); ++k) {
        Entry &e = entries[k];
        const QFileInfo info(e.target);
        const bool exists = present(info);
        bool renamed = false;
        // rename(2) would move a directory aside as readily as a file.
        if (info.isDir())
            *reason = qt_error_string(EISDIR);
        else if (!exists || (e.hadFile = renameOver(e.target, e.setAside, reason)))
            renamed = renameOver(e.temporary, e.target, reason);
        if (!renamed) {
            *failed = k;
            rollBack(k, unrestored);
            return false;
        }
        e.committed = true;
        e.written = false;
    }
    return true;
}

// Puts back what the commit did to entries 0 .. upTo (whose rename failed) and removes the
// temporary files.
void SeriesReplacement::rollBack(int upTo, QStringList *unrestored)
{
    for (int k = upTo; k >= 0; --k) {
        Entry &e = entries[k];
        if (e.hadFile) {
            // One that cannot be renamed back stays under its hidden name, which the message
            // gives, rather than being dropped with the others.
            if (!renameOver(e.setAside, e.target))
                unrestored->append(QCoreApplication::translate("geom::ImagineSlice", "%1 (kept as %2)")
                                       .arg(QDir::toNativeSeparators(e.target), QDir::toNativeSeparators(e.setAside)));
        } else if (e.committed && !QFile::remove(e.target)) {
            unrestored->append(QDir::toNativeSeparators(e.target));
        }
        e.hadFile = false;
        e.committed = false;
    }
    *unrestored += discard();
}

QStringList SeriesReplacement::discard()
{
    QStringList remaining;
    for (Entry &e : entries) {
        if (e.written && !QFile::remove(e.temporary) && QFileInfo::exists(e.temporary))
            remaining.append(QDir::toNativeSeparators(e.temporary));
        e.written = false;
    }
    return remaining;
}

QStringList SeriesReplacement::revert()
{
    QStringList unrestored;
    rollBack(entries.size() - 1, &unrestored);
    return unrestored;
}

void SeriesReplacement::dropSetAside()
{
    for (Entry &e : entries) {
        if (e.hadFile)
            QFile::remove(e.setAside);
        e.hadFile = false;
    }
}

void SeriesReplacement::removeLeftovers(const QString &directory)
{
    static const QRegularExpression pattern(QStringLiteral("^\\.(.+)\\.([1-9][0-9]{0,9})-([0-9]{1,19})\\.(%1|%2)$")
                                                .arg(newSuffix, oldSuffix));
    struct Run
    {
        QStringList temporaries;
        QStringList setAside;
        QStringList targets;
    };
    QMap<QString, Run> runs;
    const QDir dir(directory);
    const QStringList names = dir.entryList(QDir::Files | QDir::Hidden | QDir::System | QDir::NoSymLinks);
    for (const QString &name : names) {
        const QRegularExpressionMatch match = pattern.match(name);
        if (!match.hasMatch())
            continue;
        bool ok = false;
        const qint64 pid = match.captured(2).toLongLong(&ok);
        if (!ok || pid > INT_MAX || mayBeRunning(pid))
            continue;
        Run &run = runs[match.captured(2) + QLatin1Char('-') + match.captured(3)];
        if (match.captured(4) == newSuffix) {
            run.temporaries.append(dir.filePath(name));
        } else {
            run.setAside.append(dir.filePath(name));
            run.targets.append(dir.filePath(match.captured(1)));
        }
    }
    for (const Run &run : qAsConst(runs)) {
        // Temporary files left mean the run had not renamed all of its images: it did not
        // complete, and the files it had set aside are the series to keep.
        const bool completed = run.temporaries.isEmpty();
        for (int i = 0; i < run.setAside.size(); ++i) {
            if (completed)
                QFile::remove(run.setAside.at(i));
            else
                renameOver(run.setAside.at(i), run.targets.at(i));
        }
        for (const QString &name : run.temporaries)
            QFile::remove(name);
    }
}

} // namespace geom
