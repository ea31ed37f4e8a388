// File names as the system gives them: bytes, most often UTF-8 but not
// always. The window holds a name in a QString; a byte that is not part of a
// UTF-8 character is held as the lone surrogate U+DC80 + (byte - 0x80), which
// no UTF-8 text can give, so that every name converts back to exactly its
// bytes and a file is never taken for another whose name reads the same.
#pragma once

#include <QString>

#include <string>

class QUrl;

namespace clipmora {

QString NameFromBytes(const std::string& bytes);
std::string NameBytes(const QString& name);
// The local file a file: URL names, its percent-encoded bytes kept.
QString NameFromUrl(const QUrl& url);
// `name` for reading: each byte that is not UTF-8 shows as U+FFFD.
QString ReadableName(const QString& name);

}  // namespace clipmora
