#include "shellhelpers.h"

#include "filemanagerbackend.h"

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QDateTime>
#include <QDesktopServices>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QUrl>

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

QByteArray nativePath(const QString &path)
{
    return QFile::encodeName(path);
}

QString absoluteCleanPath(const QString &path)
{
    return QDir::cleanPath(QFileInfo(path).absoluteFilePath());
}

QString parentPath(const QString &absolutePath)
{
    return QFileInfo(absolutePath).absolutePath();
}

QString fileDigest(const QString &path, QCryptographicHash::Algorithm algorithm)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return QString();
    QCryptographicHash hash(algorithm);
    for (;;) {
        const QByteArray block = file.read(32768);
        // A read error half-way must not pass for the digest of a shorter file.
        if (block.isEmpty() && file.error() != QFileDevice::NoError)
            return QString();
        if (block.isEmpty())
            break;
        hash.addData(block);
    }
    return QString::fromLatin1(hash.result().toHex());
}

// A directory of our own, made private when it is new: an existing one is taken only when it
// is a real directory (no symbolic link someone planted) that belongs to us.
bool ensureOwnDirectory(const QString &path)
{
    if (::mkdir(nativePath(path).constData(), 0700) != 0 && errno != EEXIST)
        return false;
    struct stat status;
    return ::lstat(nativePath(path).constData(), &status) == 0 && S_ISDIR(status.st_mode)
        && status.st_uid == ::getuid();
}

// Like QDir::mkpath, but what it makes is private to the user, as the desktop's data
// directories are meant to be.
bool makePrivatePath(const QString &absolutePath)
{
    struct stat status;
    if (::stat(nativePath(absolutePath).constData(), &status) == 0)
        return S_ISDIR(status.st_mode);
    const QString parent = parentPath(absolutePath);
    if (parent != absolutePath && !makePrivatePath(parent))
        return false;
    return (::mkdir(nativePath(absolutePath).constData(), 0700) == 0 || errno == EEXIST)
        && ::stat(nativePath(absolutePath).constData(), &status) == 0 && S_ISDIR(status.st_mode);
}

// The file system of a path that may not exist yet: that of its nearest existing ancestor.
bool deviceOf(const QString &absolutePath, dev_t *device)
{
    QString path = absolutePath;
    for (;;) {
        struct stat status;
        if (::stat(nativePath(path).constData(), &status) == 0) {
            *device = status.st_dev;
            return true;
        }
        const QString parent = parentPath(path);
        if (parent == path)
            return false;
        path = parent;
    }
}

// The trash at the top of the volume that holds the directory (a canonical path): the shared
// "$topdir/.Trash/$uid" when the administrator set one up (sticky, no link), else the user's
// own "$topdir/.Trash-$uid".
QString volumeTrash(const QString &canonicalDirectory, dev_t device)
{
    QString top = canonicalDirectory;
    for (;;) {
        const QString parent = parentPath(top);
        struct stat status;
        if (parent == top || ::stat(nativePath(parent).constData(), &status) != 0 || status.st_dev != device)
            break;
        top = parent;
    }
    const QString prefix = top == QLatin1String("/") ? QString() : top;
    const QString uid = QString::number(::getuid());

    const QString shared = prefix + QStringLiteral("/.Trash");
    struct stat status;
    if (::lstat(nativePath(shared).constData(), &status) == 0 && S_ISDIR(status.st_mode)
        && (status.st_mode & S_ISVTX)) {
        const QString own = shared + QLatin1Char('/') + uid;
        if (ensureOwnDirectory(own))
            return own;
    }
    const QString own = prefix + QStringLiteral("/.Trash-") + uid;
    return ensureOwnDirectory(own) ? own : QString();
}

// The trash that can take the path by a rename on its own file system, or null.
QString trashFor(const QString &source, dev_t sourceDevice)
{
    const QString homeTrash = QDir::cleanPath(
        QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) + QStringLiteral("/Trash"));
    dev_t homeDevice = 0;
    if (QDir::isAbsolutePath(homeTrash) && deviceOf(homeTrash, &homeDevice) && homeDevice == sourceDevice)
        return makePrivatePath(parentPath(homeTrash)) && ensureOwnDirectory(homeTrash) ? homeTrash : QString();

    const QString directory = QFileInfo(parentPath(source)).canonicalFilePath();
    return directory.isEmpty() ? QString() : volumeTrash(directory, sourceDevice);
}

QString randomSuffix()
{
    return QString::number(QRandomGenerator::system()->generate64(), 36);
}

} // namespace

bool showInExplorer(const QString &path)
{
    if (path.isEmpty())
        return false;
    const QFileInfo info(path);
    if (info.isDir())
        return openWith(path, false);
    if (info.exists() && FileManagerBackend::instance()->showItems({info.absoluteFilePath()}))
        return true;
    // The folder opens without a selection.
    return openWith(info.absolutePath(), false);
}

bool openWith(const QString &path, bool preferDialog)
{
    if (path.isEmpty())
        return false;
    const QFileInfo info(path);
    const QUrl url = QUrl::fromLocalFile(info.absoluteFilePath());
    const bool dialogFirst = preferDialog && info.isFile();
    if (!dialogFirst && QDesktopServices::openUrl(url))
        return true;
    if (FileManagerBackend::instance()->chooseApplication(info.absoluteFilePath()))
        return true;
    return dialogFirst && QDesktopServices::openUrl(url);
}

bool isJunction(const QString &path)
{
    const QFileInfo info(path);
    return info.isSymLink() && info.isDir();
}

bool removeJunction(const QString &path)
{
    if (!isJunction(path))
        return false;
    return ::unlink(nativePath(absoluteCleanPath(path)).constData()) == 0;
}

bool removeDirectoryRecursively(const QString &path)
{
    if (path.isEmpty())
        return false;
    const QString directory = absoluteCleanPath(path);
    const QFileInfo info(directory);
    // Walking through a link would empty the directory it points to.
    if (info.isSymLink())
        return removeJunction(directory);
    if (!info.isDir())
        return false;

    QDirIterator entries(directory, QDir::Dirs | QDir::Files | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
    while (entries.hasNext()) {
        const QString entry = entries.next();
        const QFileInfo entryInfo = entries.fileInfo();
        if (isJunction(entry))
            removeJunction(entry);
        else if (entryInfo.isDir() && !entryInfo.isSymLink())
            removeDirectoryRecursively(entry);
        else
            QFile::remove(entry);
    }
    return QDir().rmdir(directory);
}

bool moveToRecycleBin(const QString &path)
{
    if (path.isEmpty())
        return false;
    const QString source = absoluteCleanPath(path);
    const QString name = QFileInfo(source).fileName();
    struct stat sourceStatus;
    if (name.isEmpty() || ::lstat(nativePath(source).constData(), &sourceStatus) != 0)
        return false;

    // QFile::moveToTrash is not used: when it cannot set up the home trash it files the path
    // below the working directory and reports success.
    const QString trash = trashFor(source, sourceStatus.st_dev);
    if (trash.isEmpty())
        return false;
    const QString files = trash + QStringLiteral("/files");
    const QString info = trash + QStringLiteral("/info");
    if (!ensureOwnDirectory(files) || !ensureOwnDirectory(info))
        return false;

    const QByteArray description = QByteArrayLiteral("[Trash Info]\nPath=")
        + QUrl::toPercentEncoding(source, QByteArrayLiteral("/"))
        + QByteArrayLiteral("\nDeletionDate=")
        + QDateTime::currentDateTime().toString(QStringLiteral("yyyy-MM-ddThh:mm:ss")).toLatin1()
        + QByteArrayLiteral("\n");

    for (int attempt = 1; attempt <= 1000; ++attempt) {
        const QString trashedName = attempt == 1 ? name : QStringLiteral("%1.%2").arg(name).arg(attempt);
        // The information file is made first and exclusively: it reserves the name.
        QFile infoFile(info + QLatin1Char('/') + trashedName + QStringLiteral(".trashinfo"));
        if (!infoFile.open(QIODevice::WriteOnly | QIODevice::NewOnly)) {
            if (QFileInfo::exists(infoFile.fileName()))
                continue;
            return false;
        }
        const bool written = infoFile.write(description) == description.size() && infoFile.flush();
        infoFile.close();
        const QString target = files + QLatin1Char('/') + trashedName;
        struct stat targetStatus;
        const bool taken = ::lstat(nativePath(target).constData(), &targetStatus) == 0;
        if (!written || taken) {
            infoFile.remove();
            if (!written)
                return false;
            continue;
        }
        // A plain rename: a move that had to copy could fail half-way.
        if (::rename(nativePath(source).constData(), nativePath(target).constData()) == 0)
            return true;
        infoFile.remove();
        return false;
    }
    return false;
}

QString createTemporaryDirectory()
{
    QString application = QCoreApplication::applicationName();
    application.replace(QLatin1Char('/'), QLatin1Char('_'));
    QTemporaryDir directory(QDir::tempPath() + QLatin1Char('/') + application + QStringLiteral("-XXXXXX"));
    if (!directory.isValid())
        return QString();
    directory.setAutoRemove(false);
    return directory.path();
}

QString fileMd5(const QString &path)
{
    return fileDigest(path, QCryptographicHash::Md5);
}

QString fileSha1(const QString &path)
{
    return fileDigest(path, QCryptographicHash::Sha1);
}

bool createLink(const QString &target, const QString &linkPath)
{
    if (target.isEmpty() || linkPath.isEmpty())
        return false;
    const QString absoluteTarget = absoluteCleanPath(target);
    const QString absoluteLink = absoluteCleanPath(linkPath);

    // A symbolic link is never made over anything that exists.
    if (QFileInfo(absoluteTarget).isDir())
        return QFile::link(absoluteTarget, absoluteLink);

    // The hard link is made beside its place under a name nobody uses, then renamed over it: if
    // the target cannot be linked, what is at linkPath stays as it was.
    const QString directory = parentPath(absoluteLink);
    const QString name = QFileInfo(absoluteLink).fileName();
    for (int attempt = 0; attempt < 100; ++attempt) {
        const QString temporary = directory + QStringLiteral("/.") + name + QLatin1Char('.') + randomSuffix();
        const QByteArray nativeTemporary = nativePath(temporary);
        // Linking what the target names, as the directory test above follows links too.
        if (::linkat(AT_FDCWD, nativePath(absoluteTarget).constData(), AT_FDCWD, nativeTemporary.constData(),
                     AT_SYMLINK_FOLLOW) != 0) {
            if (errno == EEXIST)
                continue;
            return false;
        }
        if (::rename(nativeTemporary.constData(), nativePath(absoluteLink).constData()) != 0) {
            ::unlink(nativeTemporary.constData());
            return false;
        }
        // Renaming onto another name of the same file succeeds without removing the old name.
        struct stat temporaryStatus;
        struct stat linkStatus;
        if (::lstat(nativeTemporary.constData(), &temporaryStatus) == 0
            && ::lstat(nativePath(absoluteLink).constData(), &linkStatus) == 0
            && temporaryStatus.st_ino == linkStatus.st_ino && temporaryStatus.st_dev == linkStatus.st_dev)
            ::unlink(nativeTemporary.constData());
        return true;
    }
    return false;
}
