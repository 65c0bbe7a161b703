// Exceptions of the archive engine.
//
// Every failure the engine raises derives from archive::Exception and carries one fixed English message.
// Per-file problems (a file that cannot be opened, a bad CRC) never become exceptions: they are reported
// through the components' events. The classes named after the runtime library's own errors (file open,
// stream, list, in/out errors) stand for those; their wording is ours.
#pragma once

#include <cerrno>
#include <stdexcept>
#include <string>

namespace archive {

class Exception : public std::runtime_error {
public:
    explicit Exception(const std::string& message) : std::runtime_error(message) {}
};

#define ZB_DECLARE_EXCEPTION(Name, Base)                                   \
    class Name : public Base {                                             \
    public:                                                                \
        explicit Name(const std::string& message) : Base(message) {}      \
    }

// Runtime-library errors.
ZB_DECLARE_EXCEPTION(EStreamError, Exception);
ZB_DECLARE_EXCEPTION(EFOpenError, EStreamError);    // "Cannot open file "%s". %s"
ZB_DECLARE_EXCEPTION(EFCreateError, EStreamError);  // "Cannot create file "%s". %s"
ZB_DECLARE_EXCEPTION(EReadError, EStreamError);     // "Stream read error"
// "Stream write error"; ErrorCode keeps the system's reason (ENOSPC for a full disk), taken when raised.
class EWriteError : public EStreamError {
public:
    explicit EWriteError(const std::string& message, int errorCode = errno)
        : EStreamError(message), ErrorCode(errorCode) {}
    int ErrorCode;
};
ZB_DECLARE_EXCEPTION(EListError, Exception);        // "Duplicate Object index", "Index %d is out of range"

class EInOutError : public Exception {
public:
    EInOutError(const std::string& message, int errorCode) : Exception(message), ErrorCode(errorCode) {}
    int ErrorCode;
};

// Archive engine errors.
ZB_DECLARE_EXCEPTION(EIncompleteZip, Exception);          // "Incomplete Zip File"
ZB_DECLARE_EXCEPTION(EBadZipFile, Exception);             // "Not a valid zip file!"
ZB_DECLARE_EXCEPTION(ENotAZipFile, Exception);            // "Not a valid zip file!"
ZB_DECLARE_EXCEPTION(EFatalUnzipError, Exception);        // "Premature end of file reached"
ZB_DECLARE_EXCEPTION(EUserCanceled, Exception);           // several texts
ZB_DECLARE_EXCEPTION(EBiggerThanUncompressed, Exception); // "File is larger than uncompressed size!"
ZB_DECLARE_EXCEPTION(ENotEnoughRoom, Exception);          // "Not enough room to write archive"
// A file or archive that does not fit the 32-bit fields of the format is refused, never truncated.
ZB_DECLARE_EXCEPTION(EFileTooLarge, Exception);
// An archive of a kind the engine does not read (not damaged: other tools may read it).
ZB_DECLARE_EXCEPTION(EUnsupportedArchive, Exception);  // "This archive uses Zip64 records, which are not supported"
// A written archive that does not read back whole is never put in place.
ZB_DECLARE_EXCEPTION(EArchiveCheckFailed, Exception);  // "The new archive did not read back whole ... %s"

#undef ZB_DECLARE_EXCEPTION

// printf-style formatting for the fixed messages ("Index %d is out of range").
std::string Format(const char* format, ...) __attribute__((format(printf, 1, 2)));

}  // namespace archive
