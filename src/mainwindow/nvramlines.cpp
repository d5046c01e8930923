#include "nvramlines.h"
#include "nvramfile.h"
#include "serialtransport.h"

#include <QFile>
#include <QRegularExpression>
#include <QSet>
#include <QStringDecoder>
#include <QTextStream>

#include <sys/stat.h>

namespace {

bool isPageLine(const QStringList &fields)
{
    return fields.size() >= 2 && isPageField(fields.at(0));
}

// The board takes the page from the first four characters after "$A4" or
// "$A5", so only a page field of exactly four says which page is written:
// "12" or "0004 " would write another page, and so would "10000", which the
// board reads as page 1000 and a value starting with "0".
QString pageFieldProblem(const QString &sPage)
{
    static const QRegularExpression fourDigits(QStringLiteral("^[0-9A-F]{4}$"));
    static const QRegularExpression fiveDigits(QStringLiteral("^[0-9A-F]{5}$"));
    if (fourDigits.match(sPage).hasMatch())
        return QString();
    if (fiveDigits.match(sPage).hasMatch())
        return QStringLiteral("five-digit page field \"%1\": the board reads page %2 and a value "
                              "starting with \"%3\"")
                .arg(sPage, sPage.left(4), sPage.mid(4));
    return QStringLiteral("page field \"%1\" is not 4 upper-case hex digits").arg(sPage);
}

// Why a line's commands cannot go to the board whole and unmistakable
// (empty when they can). texts are the fields the line would send.
QString unsendableReason(const QStringList &texts, const QStringList &commands, bool bValidUtf8)
{
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

// The lines, counted from 0 as readLine gives them, whose own bytes are not
// UTF-8: a line feed never stands inside a UTF-8 sequence, so each line can
// be judged alone.
QSet<int> linesNotUtf8(const QByteArray &bytes)
{
    QSet<int> lines;
    const QList<QByteArray> rawLines = bytes.split('\n');
    for (qsizetype i = 0; i < rawLines.size(); ++i) {
        QStringDecoder decoder(QStringConverter::Utf8);
        const QString sDecoded = decoder(rawLines.at(i));
        if (decoder.hasError())
            lines.insert(int(i));
    }
    return lines;
}

} // namespace

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
        header.sSkipReason =
                QStringLiteral("a page line, but the first line is always taken as the header");
        lines << header;
    }
    const QSet<int> notUtf8 = linesNotUtf8(bytes);
    int iLineNumber = 2;
    QString sLine = stream.readLine();
    while (!(stream.atEnd() && sLine.isEmpty())) {
        const QStringList fields = sLine.isEmpty() ? QStringList() : splitNvramLine(sLine);
        NvramFileLine line;
        line.iNumber = iLineNumber;
        if (fields.size() >= 2) {
            line.sPage = fields.at(0);
            line.sValue = fields.at(1);
            // A description goes only where the board will then hold the
            // line's text and give it back: a "|" cut it short, and an empty
            // one would make the page's read answer nothing. Without a
            // description field the board keeps its own, unlisted.
            if (fields.size() > 3)
                line.sNote =
                        QStringLiteral("the description holds \"|\": left as the board has it");
            else if (fields.size() == 3 && fields.at(2).isEmpty())
                line.sNote = QStringLiteral("empty description: left as the board has it");
            else if (fields.size() == 3)
                line.description = fields.at(2);
            QStringList commands { QStringLiteral("$A4") + line.sPage + line.sValue
                                   + QLatin1Char('%') };
            if (line.description)
                commands << QStringLiteral("$A5") + line.sPage + *line.description
                                + QLatin1Char('%');
            line.sSkipReason = pageFieldProblem(line.sPage);
            if (line.sSkipReason.isEmpty() && line.sValue.isEmpty())
                line.sSkipReason =
                        QStringLiteral("empty value: the board would answer its read with nothing");
            if (line.sSkipReason.isEmpty())
                line.sSkipReason = unsendableReason(
                        QStringList { line.sValue, line.description.value_or(QString()) }, commands,
                        !notUtf8.contains(iLineNumber - 1));
            if (line.sSkipReason.isEmpty())
                line.commands = commands;
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

bool FileStamp::operator==(const FileStamp &other) const
{
    return device == other.device && inode == other.inode && size == other.size
            && modifiedNs == other.modifiedNs;
}

namespace {

FileStamp stampOf(const struct stat &status)
{
    return { quint64(status.st_dev), quint64(status.st_ino), qint64(status.st_size),
             qint64(status.st_mtim.tv_sec) * 1000000000 + status.st_mtim.tv_nsec };
}

} // namespace

std::optional<FileStamp> fileStamp(const QString &path)
{
    struct stat status = {};
    if (::stat(QFile::encodeName(path).constData(), &status) != 0)
        return std::nullopt;
    return stampOf(status);
}

std::optional<FileStamp> fileStamp(int descriptor)
{
    struct stat status = {};
    if (::fstat(descriptor, &status) != 0)
        return std::nullopt;
    return stampOf(status);
}
