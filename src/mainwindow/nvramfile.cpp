#include "nvramfile.h"
#include "mainwindow.h"

#include <QFile>

#include <climits>

const QString sNvramExt = QStringLiteral(".nvr");
const QString sFieldSeparator = QStringLiteral(" | ");
const QString sPartExt = QStringLiteral(".part");
const QString sBackupExt = QStringLiteral("~");
const QString sNewBackupExt = QStringLiteral(".new");

QString nvramHeaderLine()
{
    return QStringLiteral("Page Number") + sFieldSeparator + QStringLiteral("Value")
            + sFieldSeparator + QStringLiteral("Description");
}

int maxDumpNameBytes()
{
    // The longest side files are <name>.nvr.part and <name>.nvr~.new.
    return NAME_MAX - int(QFile::encodeName(sNvramExt + sPartExt).size());
}

bool isUsableDumpName(const QString &sName)
{
    for (const QChar character : sName) {
        if (character.category() == QChar::Other_Control)
            return false;
    }
    return !sName.isEmpty() && sName != QLatin1String(".") && sName != QLatin1String("..")
            && !sName.contains(QLatin1Char('/'))
            && QFile::encodeName(sName).size() <= maxDumpNameBytes();
}

QStringList splitNvramLine(const QString &sLine)
{
    QString sFolded = sLine;
    sFolded.replace(sFieldSeparator, QStringLiteral("|"));
    return sFolded.split(QLatin1Char('|'), Qt::KeepEmptyParts, Qt::CaseSensitive);
}

QString MainWindow::formatPageNumber(int page, int width) const
{
    QString sText = QString::number(page, 16);
    while (sText.length() < width)
        sText.prepend(QLatin1Char('0'));
    return sText.toUpper();
}
