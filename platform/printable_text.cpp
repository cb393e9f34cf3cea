#include "platform/printable_text.h"

#include <QString>

namespace zn::platform {

std::string PrintableText(const std::string& raw, int maxChars)
{
    QString clean;
    for (const QChar c : QString::fromUtf8(raw.data(), qsizetype(raw.size())))
        if (c != QChar::ReplacementCharacter && c.category() != QChar::Other_Control
            && c.category() != QChar::Other_Format)
            clean += c;
    while (clean.size() > maxChars || (clean.size() == maxChars && maxChars > 0 && clean.at(maxChars - 1).isHighSurrogate()))
        clean.chop(1);
    return clean.toStdString();
}

} // namespace zn::platform
