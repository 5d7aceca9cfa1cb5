#pragma once

#include <QByteArrayView>

#include <array>

// SHA-1 (FIPS 180-4) of a short byte string, computed on the stack. The UIDs of exported entries
// are name-based UUIDs over SHA-1, one per entry, so this sits on the export's hot path.
namespace meridoc::cards {

using Sha1Digest = std::array<unsigned char, 20>;

// Uses the processor's SHA instructions when it has them, the portable code otherwise.
Sha1Digest Sha1(QByteArrayView data);
// Always the portable code, so that both ways can be compared.
Sha1Digest Sha1Portable(QByteArrayView data);

} // namespace meridoc::cards
