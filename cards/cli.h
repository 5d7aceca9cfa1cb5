#pragma once

#include <QString>
#include <QStringList>

#include <cstdio>

namespace meridoc::cards {

// Runs the command line `arguments` (without the program name) of meridoc-cards and returns its
// exit status: 0 success, 1 a failure (its reason on `err`), 2 a usage error. `programDir` is
// the folder the tool works in unless --dir names another.
int RunCommandLine(const QStringList &arguments, const QString &programDir, std::FILE *out,
                   std::FILE *err, bool errIsTerminal = false);

} // namespace meridoc::cards
