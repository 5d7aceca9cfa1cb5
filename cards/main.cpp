#include "cli.h"

#include <QCoreApplication>

#include <unistd.h>

int main(int argc, char **argv) {
    QCoreApplication app(argc, argv);
    QStringList arguments = QCoreApplication::arguments();
    arguments.removeFirst();
    return meridoc::cards::RunCommandLine(arguments, QCoreApplication::applicationDirPath(), stdout,
                                          stderr, ::isatty(STDERR_FILENO) == 1);
}
