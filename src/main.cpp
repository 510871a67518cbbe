// Program entry: one window, one event loop; the loop's exit code is the program's.
#include <QApplication>

#include "gui.h"

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    GUI window(nullptr);
    window.show();
    return app.exec();
}
