#ifndef SERIESREPLACEMENT_P_H
#define SERIESREPLACEMENT_P_H

#include <QString>
#include <QStringList>

#include <vector>

namespace geom {

// Replaces the files of an image series as a whole or not at all. Each image of a run is
// written to a hidden temporary file beside its target, and the file it is to replace gets a
// second, hidden name (a hard link; where the file system has none, the file is renamed to it
// when the commit comes to it); commit() renames the temporary files over their targets only
// once every one is written, and puts every file back from its hidden name when a rename fails.
// The files set aside stay until the object goes, so that revert() can still undo a committed
// run. Linking while the images are written keeps the commit to one rename per image.
//
// The hidden names are ".<file name>.<process id>-<run>.quarne-new" for an image of the run
// and ".<file name>.<process id>-<run>.quarne-old" for the file it replaced; removeLeftovers()
// finds those of a process that no longer runs (a killed export) by that pattern alone.
class SeriesReplacement
{
public:
    // The files a run writes, in order; a symbolic link is followed to the file it names, which
    // is the one replaced.
    explicit SeriesReplacement(const QStringList &files);
    // Removes the temporary files that were not committed and the files set aside.
    ~SeriesReplacement();

    int size() const;
    // Where image k goes, with symbolic links followed, and the temporary file it is written to.
    const QString &target(int k) const;
    const QString &temporary(int k) const;
    // Records that image k is complete in its temporary file and sets the file it replaces
    // aside; from the thread that wrote it, before commit().
    void setWritten(int k);

    // Renames every temporary file over its target, all of which must be written. On the
    // first rename that fails, the targets renamed so far get their earlier files back (or go
    // again where there was none), the temporary files are removed and false is returned:
    // *failed is the index of the file that could not be replaced, *reason the system's reason,
    // and *unrestored the files that could not be put back as they were.
    bool commit(int *failed, QString *reason, QStringList *unrestored);
    // Removes the temporary files written and not committed; those that stay.
    QStringList discard();
    // Undoes a commit: the new images go and the files they replaced come back. The files that
    // could not be put back as they were.
    QStringList revert();

    // Removes what runs that no longer go on (killed exports) left in a directory: their
    // temporary files, and the hidden names of the files they set aside; such a file is put
    // back only where its target is missing.
    static void removeLeftovers(const QString &directory);

private:
    void rollBack(int upTo, QStringList *unrestored);
    void dropSetAside();

    // How the file a target held is kept under its hidden name.
    enum class Aside { None, Linked, ToMove, Moved };
    struct Entry
    {
        QString target;
        QString temporary;
        QString setAside;
        bool written = false;
        Aside aside = Aside::None;
        bool committed = false;
    };
    // Not implicitly shared: the jobs of a run each write their own entry at once.
    std::vector<Entry> entries;
};

} // namespace geom

#endif // SERIESREPLACEMENT_P_H
