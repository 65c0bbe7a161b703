// Exceptions raised by the user-interface support classes.
//
// They derive from the engine's base class so that the application's single error wrapper treats every
// failure alike: it shows the message and the handler ends there. A missing folder is reported with the
// engine's archive::EInOutError (it carries the platform's error code), as the file services do.
#pragma once

#include "archive/errors.h"

#include <QString>

namespace ui {

// A failure of the form-state store: "Failed to create key %s", "Failed to set data for '%s'",
// "Failed to get data for '%s'", "Invalid data type for '%s'".
class ERegistryException : public archive::Exception {
public:
    explicit ERegistryException(const QString& message) : archive::Exception(message.toStdString()) {}
};

// A name collision inside a list that keeps its names unique: "String list does not allow duplicates".
class EStringListError : public archive::Exception {
public:
    explicit EStringListError(const QString& message) : archive::Exception(message.toStdString()) {}
};

// The message of any exception as text for a message box.
inline QString ExceptionText(const std::exception& e) { return QString::fromStdString(e.what()); }

}  // namespace ui
