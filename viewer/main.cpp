#include "application.h"
#include "mainwindow.h"
#include "memoryrelease.h"

int main(int argc, char **argv)
{
    MemoryRelease::limitRetainedMemory();
    QCoreApplication::setOrganizationName(QStringLiteral("Nurat"));
    QCoreApplication::setOrganizationDomain(QStringLiteral("nurat.com"));
    QCoreApplication::setApplicationName(QStringLiteral("Quarne"));
    QCoreApplication::setApplicationVersion(QStringLiteral("1.0.9"));

    Application application(argc, argv);
    // Lets the desktop match our windows (and launcher progress) with the installed quarne.desktop.
    QGuiApplication::setDesktopFileName(QStringLiteral("quarne"));
    application.setProperty("FullApplicationName",
                            QCoreApplication::organizationName() + QLatin1Char(' ') + QCoreApplication::applicationName());
    QObject::connect(&application, SIGNAL(lastWindowClosed()), &application, SLOT(quit()));

    int result = 0;
    {
        MainWindow window(nullptr);
        window.show();
        result = application.exec();
    }
    return result;
}
