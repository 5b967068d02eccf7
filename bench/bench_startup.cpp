// Start-up of the real window, the program's own way from its command line (the
// platform, the log, the lock, the load event, show), ending on the first turn of the
// event loop: by then the window has been shown. Run from a copy of the runnable folder
// that holds an ftp.txt, like the program itself.
//
//   bench_startup [--memory]

#include "window/app/runSkylark.h"

#include "benchutil.h"

#include <QCoreApplication>

#include <cstring>

int main(int argc, char** argv)
{
    const bool memory = argc > 1 && std::strcmp(argv[1], "--memory") == 0;
    int programArgc = 1; // the program takes no option of the benchmark's
    const int rc = runSkylark(programArgc, argv, [] { QCoreApplication::quit(); });
    if (memory)
        bench::printMemory();
    return rc;
}
