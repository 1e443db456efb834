#include "launcherprogress.h"

LauncherProgress::LauncherProgress(QObject *parent)
    : QObject(parent)
{
}

LauncherProgress::~LauncherProgress() = default;
