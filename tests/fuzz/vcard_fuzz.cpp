// libFuzzer target for the vCard reader (see cards_fuzz.h for what it checks).

#include "cards_fuzz.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    return checkReader(data, size, [](QByteArrayView bytes, const meridoc::cards::ContactSink &s) {
        return meridoc::cards::readVCards(bytes, s);
    });
}
