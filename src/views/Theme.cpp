#include "Theme.h"

#include <QJSEngine>

namespace norvela {

namespace {

Theme::Pair hex(const char* dark, const char* light) {
    return {QColor(QLatin1String(dark)), QColor(QLatin1String(light))};
}

// Translucent white over dark surfaces, translucent black over light ones.
Theme::Pair veil(float darkAlpha, float lightAlpha) {
    return {QColor::fromRgbF(1, 1, 1, darkAlpha), QColor::fromRgbF(0, 0, 0, lightAlpha)};
}

} // namespace

Theme& Theme::instance() {
    // Never destroyed: QML engines torn down late in main may still read it.
    static auto* theme = new Theme;
    return *theme;
}

Theme* Theme::create(QQmlEngine*, QJSEngine*) {
    Theme* theme = &instance();
    QJSEngine::setObjectOwnership(theme, QJSEngine::CppOwnership);
    return theme;
}

void Theme::setDark(bool dark) {
    if (dark == m_dark)
        return;
    m_dark = dark;
    Q_EMIT appearanceChanged();
}

const Theme::Colors& Theme::colors() {
    static const Colors table{
        .panelBackground = hex("#28282a", "#f5f5f7"),
        .windowBackground = hex("#1e1e20", "#f2f2f5"),
        .sidebarBackground = hex("#252528", "#e8e8ec"),
        .cardBackground = hex("#2c2c2e", "#ffffff"),
        .textPrimary = hex("#f5f5f7", "#1d1d1f"),
        .textSecondary = hex("#98989d", "#7c7c82"),
        .accent = hex("#409CFF", "#0A82FF"),
        .successGreen = hex("#34c759", "#30b04f"),
        .pausedAmber = hex("#f5a623", "#f5a623"),
        .toggleGreen = hex("#30b04f", "#30b04f"),
        .hairline = veil(0.1f, 0.08f),
        .cardHairline = veil(0.08f, 0.06f),
        .hoverFill = veil(0.07f, 0.05f),
        .progressTrack = veil(0.14f, 0.1f),
        .pushButtonFill = veil(0.1f, 0.06f),
        .pushButtonHover = veil(0.16f, 0.1f),
    };
    return table;
}

} // namespace norvela
