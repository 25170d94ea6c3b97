#pragma once
// The fonts the windows are designed in, resolved to the Japanese fonts installed here
// (IPA Gothic from fonts-ipafont-gothic, else Noto CJK).

#include <QFont>

namespace sorowa::platform {

// Makes the design fonts' names resolve to installed fonts; call once at start-up.
void InstallFontSubstitutions();
QFont DesignFont();      // "ＭＳ Ｐゴシック", 15 pixels
QFont FixedDesignFont(); // "ＭＳ ゴシック", 15 pixels

} // namespace sorowa::platform
