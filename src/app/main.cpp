#include "app/mainwindow.h"
#include "engine/qtcompat.h"

#include <QApplication>
#include <QLibraryInfo>
#include <QTranslator>

int main(int argc, char *argv[])
{
    // The window has a fixed size in pixels; on a screen of more than 96 dpi
    // Qt scales it (and the fonts with it), so the forms keep the proportions
    // they are laid out for instead of fonts growing inside a window that
    // does not. Qt 6 always scales so; the attribute is gone there.
#if QT_VERSION < QT_VERSION_CHECK(6, 0, 0)
    QApplication::setAttribute(Qt::AA_EnableHighDpiScaling);
#endif
    QApplication app(argc, argv);

    // Standard buttons and dialogs in Chinese (确定 rather than OK).
    QTranslator qtTranslator;
    if (qtTranslator.load(QStringLiteral("qtbase_zh_CN"), QtCompat::translationsPath()))
        app.installTranslator(&qtTranslator);

    MainWindow window;
    window.show();
    return app.exec();
}
