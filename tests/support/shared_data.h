#pragma once
// The shared corpora beside the checkout (SOROWA_SHARED_DATA: ../shared/testdata, with
// realworld and modern next to it) are not on every machine; a test that reads them skips
// when they are absent and says what it missed.

#include <QFileInfo>
#include <QString>
#include <gtest/gtest.h>

#define SOROWA_SKIP_WITHOUT(path)                                                                 \
    if (const QString sorowa_needed_ = (path); !QFileInfo::exists(sorowa_needed_))               \
    GTEST_SKIP() << "no " << sorowa_needed_.toStdString() << " (shared test files absent)"
