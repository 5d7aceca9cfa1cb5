#include "commands.h"

namespace meridoc::cards {

void RunImport(const CommandContext &, const ImportRequest &) {
    throw Failure(QStringLiteral("import is not available"));
}

} // namespace meridoc::cards
