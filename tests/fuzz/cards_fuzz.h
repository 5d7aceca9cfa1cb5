// What the libFuzzer targets of the contact readers check besides crashes, hangs, sanitizer
// reports and memory: every contact handed over fits the limits, maps onto an entry whose
// fields fit the record, and an error names a line of the input.
#pragma once

#include "cards/contact.h"
#include "cards/input_text.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>

template <typename Read> int checkReader(const uint8_t *data, size_t size, Read read) {
    using namespace meridoc::cards;
    const QByteArrayView bytes(reinterpret_cast<const char *>(data), qsizetype(size));
    const auto sink = [](Contact &&contact) {
        if (refusedName(contact)) {
            std::fprintf(stderr, "a name over the limit was handed over\n");
            std::abort();
        }
        const MappedEntry entry = mapContact(contact);
        const int maxima[] = {20, 20, 20, 20, 50};
        for (int i = 0; i < 5; ++i)
            if (entry.fields[std::size_t(i)].size() > maxima[i]) {
                std::fprintf(stderr, "field %d longer than the record holds\n", i);
                std::abort();
            }
        return true;
    };
    if (const auto error = read(bytes, sink)) {
        // UTF-16 input becomes UTF-8 on the way, so count lines as the reader does: at most one
        // per two bytes, plus the last.
        if (error->line < 1 || error->line > qsizetype(size) + 1 || error->reason.isEmpty()) {
            std::fprintf(stderr, "error at line %d: %s\n", error->line, qPrintable(error->reason));
            std::abort();
        }
    }
    return 0;
}
