#include "nvramlines.h"
#include "nvramfile.h"
#include "serialtransport.h"

#include <QRegularExpression>
#include <QStringDecoder>
#include <QTextStream>

namespace {

bool isPageLine(const QStringList &fields)
{
    return fields.size() >= 2 && isPageField(fields.at(0));
}

// Why a line's commands cannot go to the board whole and unmistakable
// (empty when they can). texts are the fields the line would send.
QString unsendableReason(const QString &sPage, const QStringList &texts,
                         const QStringList &commands, bool bValidUtf8)
{
    if (!isPageField(sPage)) {
        static const QRegularExpression fiveHexDigits(QStringLiteral("^[0-9A-F]{5}$"));
        return fiveHexDigits.match(sPage).hasMatch()
                ? QStringLiteral("five-digit page field \"%1\" starts with \"0\"").arg(sPage)
                : QStringLiteral("page field \"%1\" is not 4 or 5 upper-case hex digits")
                          .arg(sPage);
    }
    for (const QString &sText : texts) {
        for (const QChar character : sText) {
            // Each character must go out as one Latin-1 byte; a "?" in its
            // place would write a wrong value.
            if (character.unicode() > 0xFF)
                return bValidUtf8 ? QStringLiteral("character with no Latin-1 byte")
                                  : QStringLiteral("not valid UTF-8");
            // "%" would end the command early and "$" start a new one. A
            // "#" would end every later reply of this page early, so each
            // read would shift the pages' texts.
            if (character == QLatin1Char('%') || character == QLatin1Char('$')
                || character == QLatin1Char('#'))
                return QStringLiteral("holds \"%1\"").arg(character);
            if (character == QLatin1Char('\r'))
                return QStringLiteral("holds a carriage return");
        }
    }
    for (const QString &sCommand : commands) {
        if (sCommand.length() > SerialTransport::iMaxCommandBytes)
            return QStringLiteral("command longer than 90 bytes");
    }
    return QString();
}

bool isValidUtf8(const QByteArray &bytes)
{
    QStringDecoder decoder(QStringConverter::Utf8);
    const QString sDecoded = decoder(bytes);
    Q_UNUSED(sDecoded);
    return !decoder.hasError();
}

} // namespace

// The board takes the page from the command's first characters, so a page
// field such as "12", or "00011" (page 0001 and a value starting with "1"),
// would write another page.
bool isPageField(const QString &sField)
{
    static const QRegularExpression pagePattern(
            QStringLiteral("^([0-9A-F]{4}|[1-9A-F][0-9A-F]{4})$"));
    return pagePattern.match(sField).hasMatch();
}

QList<NvramFileLine> readNvramFileLines(const QByteArray &bytes)
{
    QList<NvramFileLine> lines;
    QTextStream stream(bytes);
    // The first line is the header whatever it holds; a page line there is lost.
    if (isPageLine(splitNvramLine(stream.readLine()))) {
        NvramFileLine header;
        header.iNumber = 1;
        header.sSkipReason = QStringLiteral("taken for the header");
        lines << header;
    }
    const bool bValidUtf8 = isValidUtf8(bytes);
    int iLineNumber = 2;
    QString sLine = stream.readLine();
    while (!(stream.atEnd() && sLine.isEmpty())) {
        const QStringList fields = sLine.isEmpty() ? QStringList() : splitNvramLine(sLine);
        NvramFileLine line;
        line.iNumber = iLineNumber;
        if (fields.size() >= 2) {
            line.bPageLine = true;
            line.sPage = fields.at(0);
            line.sValue = fields.at(1);
            // Without a description field the board keeps its own.
            const QStringList texts = fields.mid(1, 2);
            QStringList commands;
            commands << QStringLiteral("$A4") + fields.at(0) + fields.at(1) + QLatin1Char('%');
            if (texts.size() == 2) {
                line.description = fields.at(2);
                commands << QStringLiteral("$A5") + fields.at(0) + fields.at(2) + QLatin1Char('%');
            }
            line.sSkipReason = unsendableReason(fields.at(0), texts, commands, bValidUtf8);
            if (line.sSkipReason.isEmpty()) {
                line.commands = commands;
                if (fields.size() > 3)
                    line.sNote = QStringLiteral("more than three fields: the rest was not sent");
            }
            lines << line;
        } else if (!sLine.trimmed().isEmpty()) {
            line.sSkipReason = QStringLiteral("fewer than two fields");
            lines << line;
        }
        sLine = stream.readLine();
        ++iLineNumber;
    }
    return lines;
}
