#ifndef DEVICEACCESS_P_H
#define DEVICEACCESS_P_H

#include <QIODevice>

// A reader or writer may be handed a device that its caller left closed: it is
// opened here in the one mode the stream needs. A device already open without
// that mode is the caller's choice and is not reopened behind its back.
inline bool deviceOpenFor(QIODevice *device, QIODevice::OpenModeFlag mode)
{
    if (!device)
        return false;
    const bool ready = mode == QIODevice::ReadOnly ? device->isReadable() : device->isWritable();
    if (ready)
        return true;
    if (device->isOpen())
        return false;
    return device->open(mode);
}

#endif // DEVICEACCESS_P_H
