#include "app/file_names.h"

#include <QByteArray>
#include <QUrl>

namespace clipmora {
namespace {

constexpr char16_t kStrayByteBase = 0xDC00;  // + a byte from 0x80 to 0xFF

bool isStrayByte(char16_t unit) { return unit >= kStrayByteBase + 0x80 && unit <= kStrayByteBase + 0xFF; }

// The length of the UTF-8 character at `at` (1 to 4), or 0 when the bytes
// there are not one (a stray byte, an overlong form, a surrogate, past
// U+10FFFF, cut short).
int characterLength(const std::string& bytes, size_t at, char32_t& character)
{
    const auto byte = [&](size_t index) { return static_cast<unsigned char>(bytes[index]); };
    const unsigned char lead = byte(at);
    int length = 0;
    char32_t least = 0;
    if (lead < 0x80) {
        character = lead;
        return 1;
    }
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
        character = lead & 0x1F;
        least = 0x80;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        character = lead & 0x0F;
        least = 0x800;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        character = lead & 0x07;
        least = 0x10000;
    } else {
        return 0;
    }
    if (at + length > bytes.size())
        return 0;
    for (int index = 1; index < length; ++index) {
        const unsigned char next = byte(at + index);
        if ((next & 0xC0) != 0x80)
            return 0;
        character = (character << 6) | (next & 0x3F);
    }
    if (character < least || character > 0x10FFFF || (character >= 0xD800 && character <= 0xDFFF))
        return 0;
    return length;
}

}  // namespace

QString NameFromBytes(const std::string& bytes)
{
    QString name;
    name.reserve(static_cast<qsizetype>(bytes.size()));
    for (size_t at = 0; at < bytes.size();) {
        char32_t character = 0;
        const int length = characterLength(bytes, at, character);
        if (length == 0) {
            name += QChar(static_cast<char16_t>(kStrayByteBase +
                                                static_cast<unsigned char>(bytes[at])));
            ++at;
            continue;
        }
        name += QString::fromUcs4(&character, 1);
        at += static_cast<size_t>(length);
    }
    return name;
}

std::string NameBytes(const QString& name)
{
    std::string bytes;
    bytes.reserve(static_cast<size_t>(name.size()));
    qsizetype from = 0;
    const auto flush = [&](qsizetype to) {
        if (to > from)
            bytes += name.mid(from, to - from).toStdString();
    };
    for (qsizetype at = 0; at < name.size(); ++at) {
        const char16_t unit = name.at(at).unicode();
        const bool paired = at > 0 && QChar::isHighSurrogate(name.at(at - 1).unicode());
        if (!isStrayByte(unit) || paired)
            continue;
        flush(at);
        bytes += static_cast<char>(unit - kStrayByteBase);
        from = at + 1;
    }
    flush(name.size());
    return bytes;
}

QString NameFromUrl(const QUrl& url)
{
    const QByteArray encoded = url.path(QUrl::FullyEncoded).toLatin1();
    return NameFromBytes(QByteArray::fromPercentEncoding(encoded).toStdString());
}

QString ReadableName(const QString& name)
{
    QString readable = name;
    for (qsizetype at = 0; at < readable.size(); ++at)
        if (isStrayByte(readable.at(at).unicode()) &&
            !(at > 0 && QChar::isHighSurrogate(readable.at(at - 1).unicode())))
            readable[at] = QChar::ReplacementCharacter;
    return readable;
}

}  // namespace clipmora
