#include "seriesreplacement_p.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>

#include <atomic>
#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdio>

#include <unistd.h>

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

// link(2): a second name for the file, which stays where it is.
int linkTo(const QString &file, const QString &name)
{
    return ::link(QFile::encodeName(file).constData(), QFile::encodeName(name).constData()) == 0 ? 0 : errno;
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
    entries.resize(size_t(files.size()));
    for (int k = 0; k < files.size(); ++k) {
        Entry &e = entries[size_t(k)];
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
    return int(entries.size());
}

const QString &SeriesReplacement::target(int k) const
{
    return entries.at(size_t(k)).target;
}

const QString &SeriesReplacement::temporary(int k) const
{
    return entries.at(size_t(k)).temporary;
}

void SeriesReplacement::setWritten(int k)
{
    Entry &e = entries[size_t(k)];
    e.written = true;
    const int error = linkTo(e.target, e.setAside);
    // Without hard links (or room for one more name) the file is moved aside by the commit.
    e.aside = error == 0 ? Aside::Linked : error == ENOENT ? Aside::None : Aside::ToMove;
}

bool SeriesReplacement::commit(int *failed, QString *reason, QStringList *unrestored)
{
    for (size_t k = 0; k < entries.size(); ++k) {
        Entry &e = entries[k];
        bool renamed = false;
        if (e.aside == Aside::ToMove) {
            const QFileInfo info(e.target);
            // rename(2) would move a directory aside as readily as a file.
            if (info.isDir())
                *reason = qt_error_string(EISDIR);
            else if (!present(info))
                e.aside = Aside::None;
            else if (renameOver(e.target, e.setAside, reason))
                e.aside = Aside::Moved;
        }
        // A directory that appeared meanwhile makes the rename fail (EISDIR).
        if (e.aside != Aside::ToMove)
            renamed = renameOver(e.temporary, e.target, reason);
        if (!renamed) {
            *failed = int(k);
            rollBack(int(k), unrestored);
            return false;
        }
        e.committed = true;
        e.written = false;
    }
    return true;
}

// Puts back what the commit did to entries 0 .. upTo (whose rename failed) and removes the
// temporary files and the names set aside.
void SeriesReplacement::rollBack(int upTo, QStringList *unrestored)
{
    for (int k = upTo; k >= 0; --k) {
        Entry &e = entries[size_t(k)];
        const bool replaced = e.committed || e.aside == Aside::Moved;
        if ((e.aside == Aside::Linked || e.aside == Aside::Moved) && replaced) {
            // One that cannot be renamed back stays under its hidden name, which the message
            // gives, rather than being dropped with the others.
            if (!renameOver(e.setAside, e.target))
                unrestored->append(QCoreApplication::translate("geom::ImagineSlice", "%1 (kept as %2)")
                                       .arg(QDir::toNativeSeparators(e.target), QDir::toNativeSeparators(e.setAside)));
        } else if (e.aside == Aside::Linked) {
            QFile::remove(e.setAside); // a second name of the file still in place
        } else if (e.committed && !QFile::remove(e.target)) {
            unrestored->append(QDir::toNativeSeparators(e.target));
        }
        e.aside = Aside::None;
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
        // Not committed: the file set aside is still in place under its own name too.
        if (!e.committed && e.aside == Aside::Linked && QFile::remove(e.setAside))
            e.aside = Aside::None;
        if (!e.committed && e.aside == Aside::ToMove)
            e.aside = Aside::None;
    }
    return remaining;
}

QStringList SeriesReplacement::revert()
{
    QStringList unrestored;
    rollBack(size() - 1, &unrestored);
    return unrestored;
}

void SeriesReplacement::dropSetAside()
{
    for (Entry &e : entries) {
        if (e.aside == Aside::Linked || e.aside == Aside::Moved)
            QFile::remove(e.setAside);
        e.aside = Aside::None;
    }
}

void SeriesReplacement::removeLeftovers(const QString &directory)
{
    static const QRegularExpression pattern(QStringLiteral("^\\.(.+)\\.([1-9][0-9]{0,9})-([0-9]{1,19})\\.(%1|%2)$")
                                                .arg(newSuffix, oldSuffix));
    // Names first, so that only the few that match are looked at on the disk.
    const QDir dir(directory, QStringLiteral(".*.%1;.*.%2").arg(newSuffix, oldSuffix), QDir::NoSort,
                   QDir::Files | QDir::Hidden | QDir::System | QDir::NoSymLinks);
    const QStringList names = dir.entryList();
    for (const QString &name : names) {
        const QRegularExpressionMatch match = pattern.match(name);
        if (!match.hasMatch())
            continue;
        bool ok = false;
        const qint64 pid = match.captured(2).toLongLong(&ok);
        if (!ok || pid > INT_MAX || mayBeRunning(pid))
            continue;
        const QString path = dir.filePath(name);
        // A file set aside goes back only where its target is missing (the run was killed
        // between moving it aside and renaming its image in); a target in place is kept,
        // whoever wrote it, and the second name of its older file dropped.
        const QString target = dir.filePath(match.captured(1));
        if (match.captured(4) == oldSuffix && !present(QFileInfo(target)) && renameOver(path, target))
            continue;
        QFile::remove(path);
    }
}

} // namespace geom
