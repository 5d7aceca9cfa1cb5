#pragma once

#include <QString>

class QTextDocument;

// Loading and saving an extra-text file through a rich-text document.
namespace meridoc {

// Replaces the content of `doc` with the file at `path`, read as RTF or, when
// it is not RTF, as plain text. Throws meridoc::Exception "Cannot open file
// <path>" when the file cannot be opened and "Failed to Load Stream" when it
// cannot be read whole; `doc` is left untouched then.
void LoadExtraText(const QString &path, QTextDocument &doc);

// Writes `doc` as RTF to `path`, creating the file or replacing it whole. The
// text goes to a temporary file in the same directory, is flushed to disk and
// is then renamed over `path`, so a failed save leaves the old file as it was
// and no temporary file behind. Throws meridoc::Exception "Cannot create file
// <path>" when the file system refuses the file and "Failed to Save Stream"
// when writing fails.
void SaveExtraText(const QString &path, const QTextDocument &doc);

} // namespace meridoc
