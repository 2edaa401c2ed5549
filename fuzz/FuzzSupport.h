#pragma once

#include <QByteArray>
#include <QString>
#include <QStringDecoder>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <optional>

namespace norvela::fuzz {

inline QByteArray bytes(const uint8_t* data, size_t size) {
    return QByteArray(reinterpret_cast<const char*>(data), qsizetype(size));
}

// The input as strict UTF-8, as the programs that print or store these texts produce.
inline std::optional<QString> utf8(const QByteArray& input) {
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    QString text = decoder.decode(input);
    if (decoder.hasError())
        return std::nullopt;
    return text;
}

// A broken invariant: abort, so libFuzzer keeps the input that showed it.
[[noreturn]] inline void broken(const char* what) {
    std::fprintf(stderr, "invariant broken: %s\n", what);
    std::abort();
}

} // namespace norvela::fuzz
