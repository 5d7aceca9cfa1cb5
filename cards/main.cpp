#include "cli.h"

#include <QCoreApplication>

#include <csignal>
#include <unistd.h>

int main(int argc, char **argv) {
    // A file-size limit then fails the write with EFBIG, reported as "Disk full" and cleaned up
    // like a full disk, instead of ending the program with no word and a temporary file left.
    std::signal(SIGXFSZ, SIG_IGN);
    QCoreApplication app(argc, argv);
    QStringList arguments = QCoreApplication::arguments();
    arguments.removeFirst();
    return meridoc::cards::RunCommandLine(arguments, QCoreApplication::applicationDirPath(), stdout,
                                          stderr, ::isatty(STDERR_FILENO) == 1);
}
