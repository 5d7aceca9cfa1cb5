#pragma once

#include "contact.h"

#include <functional>
#include <optional>

namespace meridoc::cards {

// A reading of contacts: hands each contact read to the sink it is given, returns the first
// error of the input, if any (readVCards, readCsv).
using ContactReading = std::function<std::optional<ParseError>(const ContactSink &)>;

// Runs `read` on a thread of its own and hands the contacts it reads to `sink` on the calling
// thread, in their order, so that reading the next contacts overlaps with what `sink` does with
// the last ones: an import spends about as long on its contacts as on reading them. Returns what
// `read` returns once `sink` has had every contact before the error. When `sink` returns false,
// reading stops there. An exception from either side ends both and is thrown here.
// Memory: the contacts read but not yet taken are held up to a few MiB (and one contact more).
std::optional<ParseError> ReadAside(const ContactReading &read, const ContactSink &sink);

} // namespace meridoc::cards
