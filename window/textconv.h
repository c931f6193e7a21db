// The one place where the window's QString meets the conversion core: its text (UTF-16 code units,
// as in QString) and its paths. Every QString that goes into the core passes through here.
#pragma once

#include <QFile>
#include <QString>

#include <filesystem>
#include <string>

namespace quillarn {

// Returns the code units of s unchanged, and the QString of text's.
inline std::u16string toText(const QString &s)
{
    return s.toStdU16String();
}

inline QString toQString(const std::u16string &text)
{
    return QString::fromStdU16String(text);
}

// Returns the file-system path that s names: UTF-16 as it stands on Windows, and elsewhere the
// bytes Qt itself would open for s (the locale's file-name encoding).
inline std::filesystem::path toPath(const QString &s)
{
#ifdef Q_OS_WIN
    return std::filesystem::path(s.toStdWString());
#else
    return std::filesystem::path(QFile::encodeName(s).toStdString());
#endif
}

} // namespace quillarn
