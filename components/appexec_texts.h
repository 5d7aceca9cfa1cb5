#pragma once

#include "appexec.h"

#include <QString>

#include <array>

namespace appexec {

constexpr int ErrorTextCount = 17;

// The 17 error texts of one language, in entry order (entry 1 first).
std::array<QString, ErrorTextCount> errorTexts(TLangType language);

// Why a command line over `limit` bytes is refused, in the given language.
QString commandLineTooLongText(TLangType language, int limit);

} // namespace appexec
