#include "recentfiles.h"

#include <QSettings>

namespace {

const QLatin1String recentFilesKey("MainWindow/RecentFiles");

} // namespace

QStringList RecentFiles::files()
{
    return QSettings().value(recentFilesKey).toStringList();
}

void RecentFiles::add(const QString &path)
{
    QStringList list = files();
    list.removeAll(path);
    list.prepend(path);
    while (list.size() > maxCount)
        list.removeLast();
    store(list);
}

void RecentFiles::remove(const QString &path)
{
    if (path.isEmpty())
        return;
    QStringList list = files();
    list.removeAll(path);
    store(list);
}

void RecentFiles::store(const QStringList &files)
{
    QSettings().setValue(recentFilesKey, files);
}
