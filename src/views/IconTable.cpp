#include "IconTable.h"

#include <QFontDatabase>
#include <QHash>

namespace norvela::IconTable {

namespace {

// Symbol names used across the app, mapped to Material Icons code points.
const QHash<QString, char16_t>& table() {
    static const QHash<QString, char16_t> glyphs{
        {QStringLiteral("wind"), 0xefd8},                            // air
        {QStringLiteral("pause.fill"), 0xe034},                      // pause
        {QStringLiteral("play.fill"), 0xe037},                       // play_arrow
        {QStringLiteral("link"), 0xe157},                            // link
        {QStringLiteral("folder"), 0xe2c7},                          // folder
        {QStringLiteral("folder.fill"), 0xe2c7},                     // folder
        {QStringLiteral("chart.bar"), 0xe26b},                       // bar_chart
        {QStringLiteral("checkmark.circle.fill"), 0xe86c},           // check_circle
        {QStringLiteral("exclamationmark.triangle.fill"), 0xe002},   // warning
        {QStringLiteral("exclamationmark"), 0xe645},                 // priority_high
        {QStringLiteral("chevron.right"), 0xe5cc},                   // chevron_right
        {QStringLiteral("person.crop.circle"), 0xe853},              // account_circle
        {QStringLiteral("person.crop.circle.badge.plus"), 0xe7fe},   // person_add
        {QStringLiteral("externaldrive.fill.badge.icloud"), 0xe1db}, // add_to_drive
        {QStringLiteral("shippingbox.fill"), 0xe1a1},                // inventory_2
        {QStringLiteral("arrow.triangle.2.circlepath"), 0xe627},     // sync
        {QStringLiteral("clock"), 0xe8b5},                           // schedule
        {QStringLiteral("clock.arrow.circlepath"), 0xe889},          // history
        {QStringLiteral("doc.on.doc"), 0xe14d},                      // content_copy
        {QStringLiteral("xmark"), 0xe5cd},                           // close
        {QStringLiteral("magnifyingglass"), 0xe8b6},                 // search
        {QStringLiteral("envelope"), 0xe158},                        // mail
        {QStringLiteral("gearshape"), 0xe8b8},                       // settings
        {QStringLiteral("power"), 0xe8ac},                           // power_settings_new
        {QStringLiteral("terminal"), 0xeb8e},                        // terminal
        {QStringLiteral("checkmark"), 0xe5ca},                       // check
        {QStringLiteral("chevron.up.chevron.down"), 0xe5d7},         // unfold_more
    };
    return glyphs;
}

QString familyName() {
    static const QString family = [] {
        const int id = QFontDatabase::addApplicationFont(QStringLiteral(":/fonts/MaterialIcons-Regular.ttf"));
        const QStringList families = QFontDatabase::applicationFontFamilies(id);
        return families.isEmpty() ? QString() : families.first();
    }();
    return family;
}

} // namespace

QString glyph(const QString& symbolName) {
    const auto it = table().constFind(symbolName);
    return QString(QChar(it == table().constEnd() ? char16_t(0xe887) /* help */ : *it));
}

bool knows(const QString& symbolName) {
    return table().contains(symbolName);
}

QStringList names() {
    return table().keys();
}

QFont font(int pixelSize) {
    QFont f(familyName());
    f.setPixelSize(pixelSize);
    return f;
}

} // namespace norvela::IconTable
