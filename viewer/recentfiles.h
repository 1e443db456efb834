#ifndef RECENTFILES_H
#define RECENTFILES_H

#include <QString>
#include <QStringList>

// The files opened last, newest first, shared by every window of the program through the
// settings; the File menu offers them.
class RecentFiles
{
public:
    static constexpr int maxCount = 5;

    static QStringList files();
    // Puts the file in front, once, and forgets those beyond the count.
    static void add(const QString &path);
    static void remove(const QString &path);

private:
    static void store(const QStringList &files);
};

#endif // RECENTFILES_H
