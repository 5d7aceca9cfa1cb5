// libFuzzer target for the CSV reader, with and without a column map (see cards_fuzz.h for what
// it checks).

#include "cards_fuzz.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    using namespace meridoc::cards;
    checkReader(data, size,
                [](QByteArrayView bytes, const ContactSink &s) { return readCsv(bytes, {}, s); });
    const CsvMap map = {{"NAME", "a"}, {"SURNAME", "b"}, {"PHONE2", "c"}};
    return checkReader(data, size, [&map](QByteArrayView bytes, const ContactSink &s) {
        return readCsv(bytes, map, s);
    });
}
