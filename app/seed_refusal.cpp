#include "seed_refusal.h"

#include "data/appstate.h"
#include "messages.h"

namespace meridoc {

bool refuseSeedCardFile(QWidget *parent) {
    if (!CurrentFileIsSeed())
        return false;
    messages::show(parent, messages::Kind::Information,
                   QStringLiteral("You cannot edit this file. - Open or create a different file."),
                   messages::Ok);
    return true;
}

} // namespace meridoc
