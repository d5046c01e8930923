// aux-nvram-compare: compares what a board holds (a dump read from it) with
// what a .nvr file writes into it, line by line as the window's write would
// send the file.
#include "nvramfile.h"
#include "nvramlines.h"
#include "systemreason.h"

#include <QCoreApplication>
#include <QFile>
#include <QMap>
#include <QStringDecoder>
#include <QTextStream>

#include <optional>

#include <cerrno>

#include <fcntl.h>
#include <sys/stat.h>

namespace {

constexpr int iExitSame = 0;
constexpr int iExitDifferent = 1;
constexpr int iExitTrouble = 2;
// Far more than any dump: a file this large is no dump, and is not read.
constexpr qint64 iMaxFileBytes = qint64(64) << 20;

struct BoardPage
{
    QString sValue;
    QString sDescription;
};

// What the file leaves in a page: a later line of the same page overrides
// an earlier one, and a two-field line leaves the description as it was.
struct WrittenPage
{
    QString sPage;
    QString sValue;
    int iValueLine = 0;
    std::optional<QString> description;
    int iDescriptionLine = 0;
};

// Plain ASCII on one line, whatever a text holds: a backslash, control
// characters and all past "~" become escapes (\t, \n, \r, \\, \xE9 for a
// Latin-1 character, \u20AC or \U0001F600 beyond).
QString plain(const QString &sText)
{
    const auto hex = [](char32_t code, int digits) {
        return QString::number(code, 16).toUpper().rightJustified(digits, QLatin1Char('0'));
    };
    QString sPlain;
    for (const char32_t code : sText.toUcs4()) {
        if (code == U'\\')
            sPlain += QStringLiteral("\\\\");
        else if (code == U'\t')
            sPlain += QStringLiteral("\\t");
        else if (code == U'\n')
            sPlain += QStringLiteral("\\n");
        else if (code == U'\r')
            sPlain += QStringLiteral("\\r");
        else if (code >= 0x20 && code < 0x7F)
            sPlain += QChar(char16_t(code));
        else if (code <= 0xFF)
            sPlain += QStringLiteral("\\x") + hex(code, 2);
        else if (code <= 0xFFFF)
            sPlain += QStringLiteral("\\u") + hex(code, 4);
        else
            sPlain += QStringLiteral("\\U") + hex(code, 8);
    }
    return sPlain;
}

const char sUsage[] = R"(Usage: aux-nvram-compare [--quiet] BOARD.nvr FILE.nvr
Compares BOARD.nvr, a dump read from a board, with FILE.nvr as the
window's SEND would write it: is every line that FILE.nvr sends on the
board? Prints each difference and each line SEND would not send, one per
line, then a summary.

  -q, --quiet    print nothing; tell only by the exit status
  -h, --help     show this text
  -v, --version  show the version

Exit status: 0 the board holds every line FILE.nvr would send; 1 a page
differs or is not on the board, or a line would not be sent whole, or
FILE.nvr sends nothing; 2 a usage error, a file that cannot be read, is
not a regular file or is larger than 64 MiB, or BOARD.nvr is not a dump.
)";

QString counted(qsizetype count, const char *singular, const char *several)
{
    return QStringLiteral("%1 %2").arg(count).arg(QLatin1String(count == 1 ? singular : several));
}

QString quoted(const QString &sText)
{
    return QLatin1Char('"') + plain(sText).replace(QLatin1Char('"'), QStringLiteral("\\\""))
            + QLatin1Char('"');
}

// Reads a whole file; returns what is wrong with it when it cannot. A
// device or a FIFO is refused before anything is read from it, and the
// open does not wait for a FIFO's writer.
QString readFile(const QString &path, QByteArray &bytes)
{
    const int descriptor =
            ::open(QFile::encodeName(path).constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    QFile file;
    if (descriptor < 0 || !file.open(descriptor, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle))
        return QStringLiteral("cannot read %1: %2. Check the name and that you may read it.")
                .arg(path, systemReason(errno));
    struct stat status = {};
    if (::fstat(descriptor, &status) != 0 || !S_ISREG(status.st_mode))
        return QStringLiteral("%1 is not a regular file. Give a .nvr file.").arg(path);
    if (status.st_size > iMaxFileBytes)
        return QStringLiteral("%1 is larger than 64 MiB, more than any dump. Give a .nvr file.")
                .arg(path);
    bytes = file.readAll();
    return file.error() == QFileDevice::NoError
            ? QString()
            : QStringLiteral("cannot read %1: %2. Check the name and that you may read it.")
                      .arg(path, systemReason(errno));
}

// The pages of a dump as the read writes it: the header line, then
// "page | value | description" per page. Returns why bytes are no such dump.
QString readDump(const QByteArray &bytes, QMap<qint64, BoardPage> &pages)
{
    QStringDecoder decoder(QStringConverter::Utf8);
    QStringList lines = QString(decoder(bytes)).split(QLatin1Char('\n'));
    if (decoder.hasError())
        return QStringLiteral("not valid UTF-8");
    if (lines.last().isEmpty())
        lines.removeLast(); // the end of the last line
    // A dump copied through another system may have CR LF line ends.
    for (QString &sLine : lines) {
        if (sLine.endsWith(QLatin1Char('\r')))
            sLine.chop(1);
    }
    if (lines.value(0) != nvramHeaderLine())
        return QStringLiteral("line 1 is not \"%1\"").arg(nvramHeaderLine());
    const qsizetype iSeparator = sFieldSeparator.size();
    for (qsizetype i = 1; i < lines.size(); ++i) {
        const QString &sLine = lines.at(i);
        // The read writes each text as the board gave it, so a "|" in the
        // description belongs to it: all after the second separator does.
        const qsizetype iFirst = sLine.indexOf(sFieldSeparator);
        const qsizetype iSecond =
                iFirst < 0 ? -1 : sLine.indexOf(sFieldSeparator, iFirst + iSeparator);
        const QString sPage = sLine.left(iFirst);
        if (iSecond < 0 || !isPageField(sPage))
            return QStringLiteral("line %1 is not \"page | value | description\"").arg(i + 1);
        const qint64 page = sPage.toLongLong(nullptr, 16);
        if (pages.contains(page))
            return QStringLiteral("line %1 repeats page %2").arg(i + 1).arg(sPage);
        pages.insert(page,
                     { sLine.mid(iFirst + iSeparator, iSecond - iFirst - iSeparator),
                       sLine.mid(iSecond + iSeparator) });
    }
    return QString();
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    // The same version text as the window's title.
    QCoreApplication::setApplicationVersion(QStringLiteral("01.00.2"));
    QTextStream out(stdout);
    QTextStream err(stderr);
    const QString sProgram = QStringLiteral("aux-nvram-compare: ");

    // Options as the usage gives them; single letters may be run together
    // ("-qv"), and "--" ends the options.
    QString sFlags;
    QStringList paths;
    bool bOptionsEnded = false;
    for (const QString &sArgument : QCoreApplication::arguments().mid(1)) {
        if (bOptionsEnded || sArgument == QLatin1String("-")
            || !sArgument.startsWith(QLatin1Char('-'))) {
            paths << sArgument;
            continue;
        }
        if (sArgument == QLatin1String("--")) {
            bOptionsEnded = true;
            continue;
        }
        const QStringList longOptions { QStringLiteral("--quiet"), QStringLiteral("--help"),
                                        QStringLiteral("--version") };
        const QString sLetters = longOptions.contains(sArgument) ? sArgument.mid(2, 1)
                : sArgument.startsWith(QLatin1String("--"))      ? QString()
                                                                 : sArgument.mid(1);
        bool bKnown = !sLetters.isEmpty();
        for (const QChar letter : sLetters)
            bKnown = bKnown && QStringLiteral("qhv").contains(letter);
        if (!bKnown) {
            err << sProgram << "Unknown option '" << sArgument << "'. See --help.\n";
            return iExitTrouble;
        }
        sFlags += sLetters;
    }
    if (sFlags.contains(QLatin1Char('h'))) {
        out << sUsage;
        return iExitSame;
    }
    if (sFlags.contains(QLatin1Char('v'))) {
        out << "aux-nvram-compare " << QCoreApplication::applicationVersion() << '\n';
        return iExitSame;
    }
    if (paths.size() != 2) {
        err << sProgram << "expects two files, BOARD.nvr and FILE.nvr. See --help.\n";
        return iExitTrouble;
    }

    QByteArray boardBytes, fileBytes;
    QMap<qint64, BoardPage> board;
    for (const auto &[path, bytes] :
         { std::pair(paths.at(0), &boardBytes), std::pair(paths.at(1), &fileBytes) }) {
        const QString sError = readFile(path, *bytes);
        if (!sError.isEmpty()) {
            err << sProgram << sError << '\n';
            return iExitTrouble;
        }
    }
    const QString sNotDump = readDump(boardBytes, board);
    if (!sNotDump.isEmpty()) {
        err << sProgram << paths.at(0) << " is not a dump: " << sNotDump
            << ". Give a dump that aux-nvram read as the first file.\n";
        return iExitTrouble;
    }

    QMap<qint64, WrittenPage> written;
    QStringList lineFindings;
    int iNotSent = 0, iPartlySent = 0;
    for (const NvramFileLine &line : readNvramFileLines(fileBytes)) {
        const QString sWhere = QStringLiteral("line %1: ").arg(line.iNumber);
        if (!line.sSkipReason.isEmpty()) {
            ++iNotSent;
            lineFindings << sWhere + QStringLiteral("not sent: ") + plain(line.sSkipReason);
            continue;
        }
        if (!line.sNote.isEmpty()) {
            ++iPartlySent;
            lineFindings << sWhere + QStringLiteral("sent in part: ") + line.sNote;
        }
        WrittenPage &page = written[line.sPage.toLongLong(nullptr, 16)];
        page.sPage = line.sPage;
        page.sValue = line.sValue;
        page.iValueLine = line.iNumber;
        if (line.description) {
            page.description = line.description;
            page.iDescriptionLine = line.iNumber;
        }
    }
    if (written.isEmpty())
        lineFindings << QStringLiteral("the file: holds no page line to send");

    QStringList pageFindings;
    int iSame = 0, iDifferent = 0, iMissing = 0;
    for (auto it = written.cbegin(); it != written.cend(); ++it) {
        const QString sWhere = QStringLiteral("page ") + it->sPage + QStringLiteral(": ");
        const auto held = board.constFind(it.key());
        if (held == board.cend()) {
            ++iMissing;
            pageFindings << sWhere
                            + QStringLiteral("not on the board (line %1)").arg(it->iValueLine);
            continue;
        }
        const int iBefore = pageFindings.size();
        if (held->sValue != it->sValue)
            pageFindings << sWhere
                            + QStringLiteral("value differs: board %1, file %2 (line %3)")
                                      .arg(quoted(held->sValue), quoted(it->sValue))
                                      .arg(it->iValueLine);
        if (it->description && *it->description != held->sDescription)
            pageFindings << sWhere
                            + QStringLiteral("description differs: board %1, file %2 (line %3)")
                                      .arg(quoted(held->sDescription), quoted(*it->description))
                                      .arg(it->iDescriptionLine);
        pageFindings.size() > iBefore ? ++iDifferent : ++iSame;
    }

    const bool bSame = iSame > 0 && iDifferent + iMissing + iNotSent + iPartlySent == 0;
    if (!sFlags.contains(QLatin1Char('q'))) {
        for (const QString &sFinding : pageFindings + lineFindings)
            out << sFinding << '\n';
        QStringList summary;
        summary << (written.isEmpty() ? QStringLiteral("no page to write")
                                      : counted(iSame, "page the same", "pages the same"));
        if (iDifferent > 0)
            summary << QStringLiteral("%1 different").arg(iDifferent);
        if (iMissing > 0)
            summary << QStringLiteral("%1 not on the board").arg(iMissing);
        if (iNotSent > 0)
            summary << counted(iNotSent, "line not sent", "lines not sent");
        if (iPartlySent > 0)
            summary << counted(iPartlySent, "line sent in part", "lines sent in part");
        if (board.size() > iSame + iDifferent)
            summary << counted(board.size() - iSame - iDifferent, "board page left alone",
                               "board pages left alone");
        out << (bSame ? "same: " : "different: ") << summary.join(QStringLiteral(", ")) << '\n';
    }
    return bSame ? iExitSame : iExitDifferent;
}
