#include "filemanagerbackend.h"

#include "dbusfilemanagerbackend.h"

namespace {

FileManagerBackend *installedBackend = nullptr;

} // namespace

FileManagerBackend::~FileManagerBackend() = default;

FileManagerBackend *FileManagerBackend::instance()
{
    if (installedBackend)
        return installedBackend;
    static DBusFileManagerBackend sessionBackend;
    return &sessionBackend;
}

void FileManagerBackend::setInstance(FileManagerBackend *backend)
{
    installedBackend = backend;
}
