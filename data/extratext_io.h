#pragma once

#include <QString>

class QTextDocument;

// Loading and saving an extra-text file through a rich-text document.
namespace meridoc {

// Replaces the content of `doc` with the file at `path`, read as RTF or, when
// it is not RTF, as plain text. Throws meridoc::Exception "Cannot open file
// <path>" when the file cannot be opened or is a pipe, device or socket (never
// waited on), and "Failed to Load Stream" when it cannot be read whole; `doc`
// is left untouched then.
void LoadExtraText(const QString &path, QTextDocument &doc);

// Writes `doc` as RTF to `path`, creating the file or replacing it whole,
// under the lock of its directory. The text goes to a temporary file beside it
// (files::ReplacementFile), is flushed to disk and is then renamed over
// `path`, so a failed save leaves the old file as it was and no temporary file
// behind. Throws meridoc::Exception "Cannot create file <path>" when the file
// system refuses the file, the file is read-only (its permission bits grant
// nobody write) or is a pipe, device or socket, and "Failed to Save Stream"
// when writing fails.
void SaveExtraText(const QString &path, const QTextDocument &doc);

} // namespace meridoc
