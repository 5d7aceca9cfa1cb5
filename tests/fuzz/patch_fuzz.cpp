// libFuzzer target for the vCard patcher: the input as a card of the sync folder, patched with a
// changed PHONE1 and comment. A card the reader takes must stay one it takes.

#include "cards/sync_merge.h"
#include "cards/vcard_patch.h"

#include <cstdio>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    using namespace meridoc::cards;
    const QByteArrayView old(reinterpret_cast<const char *>(data), qsizetype(size));
    const std::optional<Projection> read = ProjectionOfVCard(old);
    Projection target = read.value_or(Projection{{"Anna", "Berg", "1", "", ""}, {}});
    target.fields[int(meridoc::Field::PHONE1)] = "+1 000 555 0199";
    target.fields[int(meridoc::Field::COMMENTS)] = "changed";
    const std::optional<QByteArray> patched = PatchVCard(old, target);
    if (read && patched && !ProjectionOfVCard(*patched)) {
        std::fprintf(stderr, "a card the reader takes was patched into one it does not\n");
        std::abort();
    }
    return 0;
}
