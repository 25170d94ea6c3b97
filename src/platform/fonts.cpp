#include "platform/fonts.h"

#include <QStringList>

namespace sorowa::platform {

void InstallFontSubstitutions() {
    const QStringList proportional{QStringLiteral("IPAPGothic"), QStringLiteral("IPAPゴシック"),
                                   QStringLiteral("Noto Sans CJK JP")};
    const QStringList fixed{QStringLiteral("IPAGothic"), QStringLiteral("IPAゴシック"),
                            QStringLiteral("Noto Sans Mono CJK JP")};
    QFont::insertSubstitutions(QStringLiteral("ＭＳ Ｐゴシック"), proportional);
    QFont::insertSubstitutions(QStringLiteral("ＭＳ ゴシック"), fixed);
}

QFont DesignFont() {
    QFont font(QStringLiteral("ＭＳ Ｐゴシック"));
    font.setPixelSize(15);
    return font;
}

QFont FixedDesignFont() {
    QFont font(QStringLiteral("ＭＳ ゴシック"));
    font.setPixelSize(15);
    font.setStyleHint(QFont::TypeWriter);
    return font;
}

} // namespace sorowa::platform
