#include "recordingfilemanagerbackend.h"

RecordingFileManagerBackend::RecordingFileManagerBackend() = default;

RecordingFileManagerBackend::~RecordingFileManagerBackend() = default;

bool RecordingFileManagerBackend::showItems(const QStringList &filePaths)
{
    log.append(QStringLiteral("show ") + filePaths.join(QLatin1Char(' ')));
    return showItemsResult;
}

bool RecordingFileManagerBackend::chooseApplication(const QString &filePath)
{
    log.append(QStringLiteral("choose ") + filePath);
    return chooseApplicationResult;
}

QStringList RecordingFileManagerBackend::calls() const
{
    return log;
}

void RecordingFileManagerBackend::clear()
{
    log.clear();
}

void RecordingFileManagerBackend::setShowItemsResult(bool result)
{
    showItemsResult = result;
}

void RecordingFileManagerBackend::setChooseApplicationResult(bool result)
{
    chooseApplicationResult = result;
}
