#include "FileKind.h"

namespace norvela {

namespace {

struct Rgba {
    int r, g, b;
    qreal alpha;
    QColor color() const {
        QColor c(r, g, b);
        c.setAlphaF(float(alpha));
        return c;
    }
};

struct Palette {
    const char* chip; // null: taken from the extension
    Rgba backgroundDark, backgroundLight;
    const char* foregroundDark;
    const char* foregroundLight;
};

constexpr Palette sketch{"SK", {194, 65, 12, 0.22}, {255, 237, 217, 1.0}, "#F59E5B", "#C2410C"};
constexpr Palette pdf{"PDF", {185, 28, 28, 0.22}, {254, 226, 226, 1.0}, "#F87171", "#B91C1C"};
constexpr Palette sheet{"XLS", {21, 128, 61, 0.25}, {220, 252, 231, 1.0}, "#4ADE80", "#15803D"};
constexpr Palette fig{"FIG", {109, 40, 217, 0.28}, {237, 233, 254, 1.0}, "#A78BFA", "#6D28D9"};
constexpr Palette other{nullptr, {64, 156, 255, 0.22}, {10, 130, 255, 0.1}, "#409CFF", "#0A82FF"};

// The text after the last "." of the last component; none for a leading dot alone.
QString extensionOf(const QString& fileName) {
    const QStringView name = QStringView(fileName).sliced(fileName.lastIndexOf(u'/') + 1);
    const qsizetype dot = name.lastIndexOf(u'.');
    return dot > 0 ? name.sliced(dot + 1).toString() : QString();
}

// The first `count` characters (not UTF-16 units) of `text`.
QString firstCharacters(const QString& text, int count) {
    qsizetype end = 0;
    for (int i = 0; i < count && end < text.size(); ++i)
        end += text[end].isHighSurrogate() && end + 1 < text.size() ? 2 : 1;
    return text.left(end);
}

} // namespace

FileKind::FileKind(const QString& fileName) {
    const QString extension = extensionOf(fileName).toLower();
    const Palette* palette = &other;
    if (extension == u"sketch")
        palette = &sketch;
    else if (extension == u"pdf")
        palette = &pdf;
    else if (extension == u"xls" || extension == u"xlsx" || extension == u"numbers" || extension == u"csv")
        palette = &sheet;
    else if (extension == u"fig")
        palette = &fig;

    if (palette->chip)
        chip = QString::fromLatin1(palette->chip);
    else
        chip = extension.isEmpty() ? QStringLiteral("FILE") : firstCharacters(extension, 3).toUpper();
    backgroundDark = palette->backgroundDark.color();
    backgroundLight = palette->backgroundLight.color();
    foregroundDark = QColor::fromString(QLatin1String(palette->foregroundDark));
    foregroundLight = QColor::fromString(QLatin1String(palette->foregroundLight));
}

} // namespace norvela
