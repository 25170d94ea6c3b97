#pragma once
// The program's error kinds. Every error carries the text that the user sees; the
// subsystems derive their own kinds from Exception.

#include <QString>
#include <exception>
#include <string>

namespace sorowa {

class Exception : public std::exception {
public:
    explicit Exception(QString message);
    const QString& Message() const noexcept { return message_; }
    const char* what() const noexcept override { return utf8_.c_str(); }

private:
    QString message_;
    std::string utf8_;
};

// A system call failed; Code() is the system's error number.
class EOSError : public Exception {
public:
    EOSError(QString message, int code) : Exception(std::move(message)), code_(code) {}
    int Code() const noexcept { return code_; }

private:
    int code_;
};

// A file or folder could not be entered or opened.
class EInOutError : public EOSError {
public:
    using EOSError::EOSError;
};

class EFOpenError : public Exception {
public:
    using Exception::Exception;
};

class EReadError : public Exception {
public:
    using Exception::Exception;
};

class EWriteError : public Exception {
public:
    using Exception::Exception;
};

class EOutOfResources : public Exception {
public:
    using Exception::Exception;
};

// The silent abort: a handler (a progress report, say) raises it to stop the operation it
// was called from. Whoever runs the operation swallows it; it is never shown.
class EAbort : public Exception {
public:
    EAbort() : Exception(QStringLiteral("Operation aborted")) {}
};

// Text of the system error number, in the user's language where the system has it.
QString SystemErrorText(int code);

} // namespace sorowa
