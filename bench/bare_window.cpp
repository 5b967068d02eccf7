// The reference for start-up: an empty Qt window of Skylark's size, shown and left on
// the first turn of the event loop, exactly as bench_startup leaves the real window.
//
//   bare_window [--memory]

#include "benchutil.h"

#include <QApplication>
#include <QTimer>
#include <QWidget>

#include <cstring>

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    QWidget window;
    window.resize(576, 358);
    window.show();
    QTimer::singleShot(0, &app, &QCoreApplication::quit);
    const int rc = QApplication::exec();
    if (argc > 1 && std::strcmp(argv[1], "--memory") == 0)
        bench::printMemory();
    return rc;
}
