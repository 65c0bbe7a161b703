// Paths cross from the window's Qt strings to the engine's byte strings here: the bytes the file system
// names a file with (UTF-8 on the systems we run on).
#pragma once

#include <QFile>
#include <QString>
#include <string>

namespace app {

inline std::string Native(const QString& path) { return QFile::encodeName(path).toStdString(); }

}  // namespace app
