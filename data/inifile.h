#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

namespace meridoc {

// Key access to a file in the common INI format. Section and key names match without regard to
// case; a value is the text after the first "=" of its line without surrounding blanks, cut to
// 1023 characters. Writing a key replaces only that line's value (the key's spelling and the
// blanks around the value stay) and keeps every other line (comments, other sections, line ends)
// as it was; a missing key or section is added. The file is only ever read if it is a regular
// file, and is written anew beside itself and renamed into place (files::ReplacementFile), so the
// caller holds the directory lock.
class IniFile {
public:
    explicit IniFile(QString path);

    // The value, or `defaultValue` when the file, the section or the key is missing.
    QString ReadString(const QString &section, const QString &key,
                       const QString &defaultValue) const;
    // Sets the value and writes the file at once. Throws meridoc::Exception("Unable to write to
    // <path>") when the file cannot be written, when an existing file cannot be read (it would
    // lose what it holds), and when a text is one a line of the file cannot hold (a character
    // outside Windows-1252, a line break).
    void WriteString(const QString &section, const QString &key, const QString &value);

    static constexpr int MaxValueLength = 1023;

private:
    QString path_;
};

} // namespace meridoc
