#pragma once

#include <QString>

// Reads and writes single keys of the settings file on disk (see inifile.h for its form).
namespace settingsfile {

// The key's text in the section; a null text when the file or the key is missing, or
// the file cannot be read.
QString read(const QString& path, const QString& section, const QString& key);

// Sets the key, replacing the file in one step, under the lock file that earlier versions
// take through QSettings ("<file>.lock"). The file, which holds the password, is private
// to its owner once written (an existing one too, even when the key kept its value), and
// so is its folder and any folder made for it. A file without write permission (by its
// mode bits, for the superuser too) is left alone and the write fails, as it does when the
// file cannot be read or replaced.
bool write(const QString& path, const QString& section, const QString& key, const QString& text);

} // namespace settingsfile
