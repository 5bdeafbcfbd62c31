#include "QtDialogUnits.h"

#include <QFontMetrics>
#include <QString>

namespace {

// a * b / c rounded to the nearest integer, halves away from zero.
int MulDiv(int a, int b, int c) {
    const long long product = static_cast<long long>(a) * b;
    const long long half = c / 2;
    return static_cast<int>(product >= 0 ? (product + half) / c : (product - half) / c);
}

} // namespace

CQtDialogUnits::CQtDialogUnits(const QFont& font) {
    const QFontMetrics metrics(font);
    // The average width is taken over the 52 Latin letters and rounded, as the classic rule does.
    const int lettersWidth =
        metrics.horizontalAdvance(QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"));
    m_baseX = (lettersWidth / 26 + 1) / 2;
    m_baseY = metrics.height();
    if (m_baseX <= 0) {
        m_baseX = 6;
    }
    if (m_baseY <= 0) {
        m_baseY = 13;
    }
}

void CQtDialogUnits::InstallFontSubstitutions() {
    // Without this the old bitmap font falls back to a much wider face and every dialog grows by about a sixth.
    QFont::insertSubstitution(QStringLiteral("MS Sans Serif"), QStringLiteral("Liberation Sans"));
    QFont::insertSubstitution(QStringLiteral("MS Shell Dlg"), QStringLiteral("Liberation Sans"));
}

QFont CQtDialogUnits::DialogFont(std::string_view name, int points) {
    QFont font(QString::fromUtf8(name.data(), static_cast<qsizetype>(name.size())));
    font.setPointSize(points > 0 ? points : 8);
    font.setWeight(QFont::Normal);
    font.setItalic(false);
    return font;
}

int CQtDialogUnits::ToPixelsX(int units) const {
    return MulDiv(units, m_baseX, 4);
}

int CQtDialogUnits::ToPixelsY(int units) const {
    return MulDiv(units, m_baseY, 8);
}

QRect CQtDialogUnits::ToPixels(int x, int y, int cx, int cy) const {
    return QRect(ToPixelsX(x), ToPixelsY(y), ToPixelsX(cx), ToPixelsY(cy));
}
