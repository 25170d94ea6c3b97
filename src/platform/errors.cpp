#include "platform/errors.h"

#include <cstring>

namespace sorowa {

Exception::Exception(QString message)
    : message_(std::move(message)), utf8_(message_.toStdString()) {}

QString SystemErrorText(int code) {
    char buffer[256];
    // GNU strerror_r returns a pointer that may or may not be the buffer.
    const char* text = strerror_r(code, buffer, sizeof buffer);
    return QString::fromLocal8Bit(text);
}

} // namespace sorowa
