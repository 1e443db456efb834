#ifndef RECORDINGFILEMANAGERBACKEND_H
#define RECORDINGFILEMANAGERBACKEND_H

#include "filemanagerbackend.h"

// A backend without a desktop: it writes down every request, one line each, and gives the
// answers set beforehand. The lines are "show <path>[ <path>...]" and "choose <path>".
class RecordingFileManagerBackend : public FileManagerBackend
{
public:
    RecordingFileManagerBackend();
    ~RecordingFileManagerBackend() override;

    bool showItems(const QStringList &filePaths) override;
    bool chooseApplication(const QString &filePath) override;

    QStringList calls() const;
    void clear();

    // What the next requests answer; both succeed unless told otherwise.
    void setShowItemsResult(bool result);
    void setChooseApplicationResult(bool result);

private:
    QStringList log;
    bool showItemsResult = true;
    bool chooseApplicationResult = true;
};

#endif // RECORDINGFILEMANAGERBACKEND_H
