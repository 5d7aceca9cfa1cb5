#pragma once

#include <QByteArray>
#include <QSet>
#include <QStringList>

#include <optional>

class QTextDocument;

// Rich Text Format for the extra-text files: a tolerant reader and a plain
// writer. Qt has no RTF support of its own.
namespace rtf {

// Replaces the content of `doc` with the text and character formatting of
// `bytes`. Input that does not begin with "{\rtf" is taken as plain text
// (UTF-8 when it is valid UTF-8, otherwise Windows-1252), one paragraph per
// line. Never fails: damaged or cut-off RTF yields the text read up to the
// damage, and memory stays in proportion to the size of `bytes`.
void read(const QByteArray &bytes, QTextDocument &doc);

// Writes `doc` as RTF 1.x: font and colour tables, one \par per paragraph,
// tabs, line breaks and bold/italic/underline/size/colour/font-family runs.
// read(write(doc)) gives back the same text and those formats. The default
// font (font 0) is the one read() found for the text, else the document's.
QByteArray write(const QTextDocument &doc);

// The property of a document read() sets to the family of the RTF's default
// font (\deff), empty when it names none: text in that font has no family of
// its own in the document, and write() names it again.
inline constexpr char DefaultFontProperty[] = "rtfDefaultFont";

// `bytes` with `paragraphs` added as plain paragraphs before the final brace of the document,
// every byte before it kept as it is (pictures, links, alignment and fonts stay). Nothing when
// `bytes` is not RTF or has no final brace.
std::optional<QByteArray> appendParagraphs(const QByteArray &bytes, const QStringList &paragraphs);

// The paragraphs of `bytes`, each as its text is written, when write() and appendParagraphs()
// gave all of it from plain paragraphs: the header of one font and no colours, then lines
// "\pard\plain TEXT\par" or "\pard\plain\uc1 TEXT\par" whose TEXT holds only characters
// and escapes. Nothing when `bytes` hold anything else (formats, groups, other control words).
std::optional<QSet<QByteArray>> plainParagraphs(const QByteArray &bytes);
// Whether one of `paragraphs` (from plainParagraphs()) reads back as exactly `text`, written as
// write() or appendParagraphs() write it. False for a text that does not come back whole as one
// line (control characters, line breaks, objects, lone surrogates, characters read replaced).
bool holdsParagraph(const QSet<QByteArray> &paragraphs, const QString &text);

} // namespace rtf
