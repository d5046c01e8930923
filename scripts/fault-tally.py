#!/usr/bin/env python3
"""Measures which regressions the test suite catches.

Each fault below is one small change to one line of src/ (or, named from
there, of the companion in tools/compare/), the kind a real regression is. The script copies the working tree to a new scratch
directory, builds it from clean, then for each fault: applies it, rebuilds,
runs ctest until the first failing test, and puts the line back. It prints,
per fault, the test and the test case that caught it, or MISSED (also in
results.tsv in the scratch directory), the list of missed faults, and
whether the restored tree passes again.

  scripts/fault-tally.py                 # every fault
  scripts/fault-tally.py --only F03,F17  # some of them
  scripts/fault-tally.py --check         # only check that each fault applies
"""

import argparse
import os
import re
import shutil
import subprocess
import sys
import tempfile
import time

# (id, file under src/, text that occurs exactly once, its replacement)
FAULTS = [
    # board link: serialtransport.*, connection.*
    ("F01", "mainwindow/serialtransport.cpp", "!bLineUnsettled || drainLine(bTailPending);",
     "true;"),
    ("F02", "mainwindow/serialtransport.cpp",
     "        serialPort.clear(QSerialPort::AllDirections);", "        ;"),
    ("F03", "mainwindow/serialtransport.h", "iMaxReplyChars = 201;", "iMaxReplyChars = 200;"),
    ("F04", "mainwindow/serialtransport.h", "iWatchdogMs = 2000;", "iWatchdogMs = 1000;"),
    ("F05", "mainwindow/serialtransport.cpp",
     "QThread::msleep(static_cast<unsigned long>(iLeftMs));", ";"),
    ("F06", "mainwindow/serialtransport.cpp",
     "if (iRead < 0 || (iRead == 0 && serialPortFailed())) {", "if (iRead < 0) {"),
    ("F07", "mainwindow/serialtransport.cpp",
     "QChar character(static_cast<uchar>(byte & 0xFF));",
     "QChar character(static_cast<uchar>(byte & 0x7F));"),
    ("F08", "mainwindow/serialtransport.cpp",
     "sinceLastCharacter.hasExpired(iCharacterGapMs))",
     "sinceLastCharacter.hasExpired(2 * iCharacterGapMs))"),
    ("F09", "mainwindow/serialtransport.cpp", "    bReadError = false;\n    bLineUnsettled", "    bLineUnsettled"),
    ("F10", "mainwindow/connection.cpp", "            iKeepAliveCountdown = 1;",
     "            iKeepAliveCountdown = 2;"),
    ("F11", "mainwindow/connection.h", "iPollingIntervalMs = 750;", "iPollingIntervalMs = 500;"),
    ("F12", "mainwindow/connection.cpp",
     "            sendCommand(sHelloCommand, sHelloCommand.length());\n            readReply();\n", ""),
    ("F13", "mainwindow/connection.cpp", "ui->btnToAuxPCB->setEnabled(true);",
     "ui->btnToAuxPCB->setEnabled(false);"),
    ("F14", "mainwindow/connection.cpp", "        iConnectionState = 3;", "        iConnectionState = 0;"),
    ("F15", "mainwindow/connection.cpp", "    if (bExchangeRunning)\n        return;\n", ""),
    ("F16", "mainwindow/connection.cpp", "    if (arg1.isEmpty())\n        return;\n", ""),
    # window: mainwindow.cpp, main.cpp, dlguploadnvram.cpp
    ("F17", "mainwindow/mainwindow.cpp", "QSerialPort::Baud57600", "QSerialPort::Baud38400"),
    ("F18", "mainwindow/mainwindow.cpp", "setParity(QSerialPort::NoParity)",
     "setParity(QSerialPort::EvenParity)"),
    ("F19", "mainwindow/mainwindow.cpp", "    ui->btnConnectPort->hide();\n", "\n"),
    ("F20", "mainwindow/mainwindow.cpp", "split(QLatin1Char(':')", "split(QLatin1Char(';')"),
    ("F21", "main/main.cpp", "QStringLiteral(\"01.00.2\")", "QStringLiteral(\"01.00.1\")"),
    ("F22", "main/main.cpp", "    return app.exec();", "    return app.exec() + 1;"),
    ("F23", "dlguploadnvram/dlguploadnvram.cpp", "{\n    on_btnOK_clicked();\n}", "{\n    hide();\n}"),
    # dump file and read: nvramfile.cpp, nvramread.cpp
    ("F24", "mainwindow/nvramfile.cpp", "while (sText.length() < width)",
     "while (sText.length() <= width)"),
    ("F25", "mainwindow/nvramfile.cpp", "    return sText.toUpper();", "    return sText;"),
    ("F26", "mainwindow/nvramfile.cpp", "            && !sName.contains(QLatin1Char('/'))\n", ""),
    ("F27", "mainwindow/nvramread.cpp", "iReplyPrefixLength = 7;", "iReplyPrefixLength = 6;"),
    ("F28", "mainwindow/nvramread.cpp", "return sReply.length() > sCommand.length();",
     "return sReply.length() >= sCommand.length();"),
    ("F29", "mainwindow/nvramread.cpp", "sValue.toInt(&bOk, 10);", "sValue.toInt(&bOk, 16);"),
    ("F30", "mainwindow/nvramread.cpp", "if (page >= iLastPage) {", "if (page > iLastPage) {"),
    ("F31", "mainwindow/nvramread.cpp", "                QFile::remove(sPartPath);\n", "                ;\n"),
    ("F32", "mainwindow/nvramread.cpp", "QFile::encodeName(path).constData())",
     "QFile::encodeName(sPartPath).constData())"),
    ("F33", "mainwindow/nvramread.cpp", "if (4 + pageText.length()", "if (3 + pageText.length()"),
    ("F34", "mainwindow/nvramread.cpp", "                character = QLatin1Char(' ');",
     "                character = QLatin1Char('_');"),
    ("F35", "mainwindow/nvramread.cpp",
     "    MainPollingTimer->start(iPollingIntervalMs);\n    ui->editFromAuxPCB", "    ui->editFromAuxPCB"),
    # write: nvramwrite.cpp, nvramlines.cpp, nvramreport.cpp
    ("F36", "mainwindow/nvramlines.cpp", "|[1-9A-F][0-9A-F]{4})$", ")$"),
    ("F37", "mainwindow/nvramwrite.cpp", "if (!sReply.endsWith(QLatin1Char('#')) || !bLineSettledAtSend) {",
     "if (sReply.isEmpty()) {"),
    ("F38", "mainwindow/nvramwrite.cpp", "sSave = QStringLiteral(\"$A8%\");",
     "sSave = QStringLiteral(\"$A9%\");"),
    ("F39", "mainwindow/nvramwrite.cpp", "sName.mid(0, sName.length() - 4)",
     "sName.mid(0, sName.length() - 3)"),
    ("F40", "mainwindow/nvramlines.cpp", "if (character.unicode() > 0xFF)",
     "if (character.unicode() > 0x7F)"),
    ("F41", "mainwindow/nvramlines.cpp", "QStringList { line.sValue, line.description.value_or(QString()) }",
     "QStringList { line.sValue }"),
    ("F42", "mainwindow/nvramreport.cpp", "iListedNotes = 5;", "iListedNotes = 4;"),
    ("F43", "mainwindow/nvramreport.cpp", "count == 1 ? singular", "count >= 1 ? singular"),
    # the one-instance guard: singleapplication/
    ("F44", "singleapplication/qtlocalpeer.cpp", "prefix.truncate(6);", "prefix.truncate(5);"),
    ("F45", "singleapplication/qtlocalpeer.cpp",
     "\n            + QLatin1Char('-') + QString::number(uid, 16);", ";"),
    ("F46", "singleapplication/qtlocalpeer.h", "MaxMessageLength = 1024 * 1024;",
     "MaxMessageLength = 64 * 1024 * 1024;"),
    ("F47", "singleapplication/qtlocalpeer.cpp", "attempt < 2; ++attempt", "attempt < 1; ++attempt"),
    ("F48", "singleapplication/qtlocalpeer.cpp", "return socket.read(qstrlen(ack)) == ack;",
     "return !socket.read(qstrlen(ack)).isEmpty();"),
    ("F49", "singleapplication/qtlocalpeer.cpp",
     "        QFile::remove(socketNameText);\n",
     "\n"),
    ("F50", "singleapplication/qtlocalpeer.cpp", "    bytes.truncate(got);\n", "\n"),
    ("F51", "singleapplication/qtlocalpeer.cpp", "socket->write(ack, qstrlen(ack));",
     "socket->write(ack, 2);"),
    ("F52", "singleapplication/qtlockedfile.cpp", "(kind == SharedLock) ? F_RDLCK : F_WRLCK;",
     "F_WRLCK;"),
    ("F53", "singleapplication/qtlockedfile.cpp", "    if (mode & QIODevice::Truncate) {",
     "    if (false) {"),
    ("F54", "singleapplication/qtsingleapplication.cpp", "                Qt::UniqueConnection);",
     "                Qt::AutoConnection);"),
    ("F55", "singleapplication/qtsingleapplication.cpp",
     "    actWin->setWindowState(actWin->windowState() & ~Qt::WindowMinimized);\n", "\n"),
    # dump file, again: an earlier .part is emptied before this read's pages go in
    ("F56", "mainwindow/nvramread.cpp", "            if (!file.resize(0)) {", "            if (false) {"),
    # no silent loss: page 0's count, stalled replies, older files, every line told, no spin
    ("F57", "mainwindow/nvramread.cpp", "    return bOk ? iValue : -1;", "    return bOk ? iValue : 0;"),
    ("F58", "mainwindow/nvramread.cpp", "            if (answer.sProblem == sBrokenOff) {",
     "            if (false) {"),
    ("F59", "mainwindow/nvramread.cpp",
     "if (!sReply.endsWith(QLatin1Char('#')) && sReply.length() < SerialTransport::iMaxReplyChars)",
     "if (false)"),
    ("F60", "mainwindow/nvramread.cpp", "        reasons.removeDuplicates();\n", "\n"),
    ("F61", "mainwindow/dumpfiles.cpp", "    if (source < 0 && errno == ENOENT)", "    if (source < 0)"),
    ("F62", "mainwindow/nvramread.cpp", "(part.bCreated || (report.bWriteFailed && file.size() == 0))", "true"),
    ("F63", "mainwindow/nvramread.cpp", "QIODevice::WriteOnly | QIODevice::Append |",
     "QIODevice::WriteOnly |"),
    ("F64", "mainwindow/nvramread.cpp", "        file.resize(iWholeLines);\n", "\n"),
    ("F65", "mainwindow/nvramread.cpp", "{ QLatin1Char('|'), QLatin1Char('%'), QLatin1Char('$') }",
     "{ QLatin1Char('|') }"),
    ("F66", "mainwindow/nvramfile.cpp", "        if (character.category() == QChar::Other_Control)",
     "        if (false)"),
    ("F67", "mainwindow/nvramfile.cpp", "\n            && QFile::encodeName(sName).size() <= maxDumpNameBytes();",
     ";"),
    ("F68", "mainwindow/nvramwrite.cpp", "    if (sUploadPath.isEmpty()) {", "    if (false) {"),
    ("F69", "mainwindow/nvramwrite.cpp",
     "        sWarning = NvramReport::cannotOpenText(path, systemReason(errno));",
     "        ;"),
    ("F70", "mainwindow/nvramlines.cpp", "        lines << header;\n", "\n"),
    ("F71", "mainwindow/nvramlines.cpp", "} else if (!sLine.trimmed().isEmpty()) {", "} else if (false) {"),
    ("F72", "mainwindow/nvramlines.cpp",
     "if (character == QLatin1Char('%') || character == QLatin1Char('$')",
     "if (character == QLatin1Char('%')"),
    ("F73", "mainwindow/nvramlines.cpp", "if (character == QLatin1Char('\\r'))", "if (false)"),
    ("F74", "mainwindow/nvramlines.cpp", "!notUtf8.contains(iLineNumber - 1)", "notUtf8.isEmpty()"),
    ("F75", "mainwindow/nvramwrite.cpp", "            else if (iLinesSent == 0)", "            else if (false)"),
    ("F76", "mainwindow/nvramlines.cpp", "if (fiveDigits.match(sPage).hasMatch())", "if (false)"),
    ("F77", "mainwindow/serialtransport.cpp", "bWritable = serialPort.isOpen() && !bReadError;",
     "bWritable = serialPort.isOpen();"),
    ("F78", "mainwindow/serialtransport.cpp", "        bPortLost = true;\n", ""),
    # a sharper suite: tails, drains, names, paths, choosers and accounts
    ("F79", "mainwindow/serialtransport.cpp", "bTailPending = bLineUnsettled && !sReply.isEmpty();",
     "bTailPending = false;"),
    ("F80", "mainwindow/serialtransport.h", "iDrainLimitMs = iCharacterGapMs + iWatchdogMs;",
     "iDrainLimitMs = iCharacterGapMs + iWatchdogMs / 2;"),
    ("F81", "mainwindow/serialtransport.cpp",
     "        // The link is gone: a chosen file is chosen again after reconnecting.\n        hideSendButton();\n",
     "\n"),
    ("F82", "mainwindow/serialtransport.cpp", "    bLineUnsettled = false;\n    bPortLost = false;", "    bPortLost = false;"),
    ("F83", "mainwindow/serialtransport.cpp", "bReadable = !bReadError && serialPort.isOpen()",
     "bReadable = serialPort.isOpen()"),
    ("F84", "dlguploadnvram/dlguploadnvram.cpp", "    hide();\n    // Let the dialog", "    // Let the dialog"),
    ("F85", "dlguploadnvram/dlguploadnvram.h", "private slots:",
     "public:\n    void reject() override { on_btnOK_clicked(); }\nprivate slots:"),
    ("F86", "mainwindow/nvramwrite.cpp", "QStringLiteral(\"NVRAM (*.nvr)\")", "QStringLiteral(\"NVRAM (*.nvr*)\")"),
    ("F87", "mainwindow/nvramwrite.cpp", "tr(\"Select NVRAM File\"), sNvramDir,", "tr(\"Select NVRAM File\"), QString(),"),
    ("F88", "mainwindow/nvramread.cpp", "    if (std::rename(", "    if (0 && std::rename("),
    ("F89", "mainwindow/nvramfile.cpp", "return !sName.isEmpty() && sName", "return sName"),
    ("F90", "mainwindow/nvramfile.cpp", " && sName != QLatin1String(\"..\")", ""),
    ("F91", "mainwindow/nvramlines.cpp", "\"^[0-9A-F]{4}$\"", "\"^[0-9A-F]{3,4}$\""),
    ("F92", "mainwindow/nvramfile.cpp", "Qt::KeepEmptyParts", "Qt::SkipEmptyParts"),
    ("F93", "mainwindow/connection.cpp", "\"Can't open %1, error code %2\"", "\"Cannot open %1, error code %2\""),
    ("F94", "singleapplication/qtlocalpeer.cpp", "QString::number(uid, 16)", "QString::number(uid)"),
    ("F95", "mainwindow/nvramread.cpp",
     "    MainPollingTimer->start(iPollingIntervalMs);\n    ui->editFromAuxPCB",
     "    MainPollingTimer->start(2 * iPollingIntervalMs);\n    ui->editFromAuxPCB"),
    ("F96", "mainwindow/nvramfile.cpp", "sPartExt = QStringLiteral(\".part\");", "sPartExt = QStringLiteral(\".prt\");"),
    ("F97", "mainwindow/styles.cpp", "rgb(246, 211, 45)", "rgb(246, 211, 46)"),
    ("F98", "mainwindow/serialtransport.cpp", "    lowLatency.request(serialPort.handle());\n", ""),
    # links and backups in the shared directory, honest write replies, a dead line, a hung-up port
    ("F99", "mainwindow/nvramread.cpp", "        if (!sRefusal.isEmpty() && sWarning.isEmpty())",
     "        if (false)"),
    ("F100", "mainwindow/dumpfiles.cpp", "::flock(fd, part.bCreated ? LOCK_EX : LOCK_EX | LOCK_NB) != 0",
     "false"),
    ("F101", "mainwindow/dumpfiles.cpp", "    if (!bWritten) {", "    if (false) {"),
    ("F102", "mainwindow/nvramlines.cpp", "\n                || character == QLatin1Char('#'))", ")"),
    ("F103", "mainwindow/nvramread.cpp", "        if (value.bHadNul || description.bHadNul)", "        if (false)"),
    ("F104", "mainwindow/mainwindow.cpp", "                    closeLostPort();", "                    ;"),
    ("F105", "mainwindow/nvramwrite.cpp", "        if (bReadError)\n            return false;",
     "        if (false)\n            return false;"),
    ("F106", "mainwindow/nvramlines.cpp", "            if (fields.size() > 3)", "            if (false)"),
    ("F107", "mainwindow/mainwindow.cpp", "    box.setDetailedText(details.join(QLatin1Char('\\n')));\n", ""),
    ("F108", "mainwindow/nvramread.cpp", "        report.bWriteFailed = true;\n", ""),
    # the shared directory: the tool's own name for it, leftovers, two technicians
    ("F109", "mainwindow/nvramdir.cpp", "\"/opt/VYK_PLUS/NVRAM/AUXPCB/\"", "\"/opt/VYK_PLUS/NVRAM/AUXPCB\""),
    ("F110", "mainwindow/dumpfiles.cpp", "bSame ? ::unlink(newName.constData()) != 0", "bSame ? false"),
    ("F111", "mainwindow/dumpfiles.cpp", "O_TMPFILE | O_WRONLY | O_CLOEXEC, 0600);",
     "O_TMPFILE | O_WRONLY | O_CREAT | O_CLOEXEC, 0600);"),
    ("F112", "mainwindow/dumpfiles.cpp", "(status.st_mode & 0666) | groupMode", "status.st_mode & 0666"),
    ("F113", "mainwindow/nvramread.cpp", "const bool bPartIntact = DumpFiles::namesFile(sPartPath, part.fd);",
     "const bool bPartIntact = true;"),
    ("F114", "mainwindow/dumpfiles.cpp", "if (part.sError.isEmpty() && status.st_nlink != 1)", "if (false)"),
    ("F115", "mainwindow/dumpfiles.cpp", "if (source < 0 && errno == EACCES)", "if (false)"),
    ("F116", "mainwindow/nvramreport.cpp", "    else if (!bPartIntact)\n", "    else if (false)\n"),
    # what SEND puts into a board reads back as the line says; texts that add up; the companion
    ("F117", "mainwindow/nvramlines.cpp", "\"^[0-9A-F]{4}$\"", "\"^[0-9A-F]{4,5}$\""),
    ("F118", "mainwindow/nvramlines.cpp", "if (line.sSkipReason.isEmpty() && line.sValue.isEmpty())",
     "if (false)"),
    ("F119", "mainwindow/nvramlines.cpp", "else if (fields.size() == 3 && fields.at(2).isEmpty())",
     "else if (false)"),
    ("F120", "mainwindow/nvramwrite.cpp", "stamp && stamp == uploadStamp &&", "stamp &&"),
    ("F121", "mainwindow/nvramwrite.cpp", "    uploadStamp = fileStamp(sFileName);\n", ""),
    ("F122", "mainwindow/nvramlines.cpp", "\n            && modifiedNs == other.modifiedNs;", ";"),
    ("F123", "mainwindow/nvramwrite.cpp", "report.writeText(iLinesSent > 0)", "report.writeText(true)"),
    ("F124", "mainwindow/nvramwrite.cpp", "                        ++report.iLinesInPart;\n", ""),
    ("F125", "mainwindow/nvramreport.cpp", "    if (iLinesSkipped > 0)\n", "    if (true)\n"),
    ("F126", "mainwindow/nvramreport.cpp", "    if (iLinesLost > 0)\n", "    if (false)\n"),
    ("F127", "mainwindow/nvramwrite.cpp", "            if (report.iFailedLine > 0) {\n                ++report.iLinesLost;",
     "            if (report.iFailedLine > 0) {\n                report.iLinesLost += 2;"),
    # the companion, tools/compare/main.cpp
    ("F128", "../tools/compare/main.cpp", "iDifferent + iMissing + iNotSent + iPartlySent == 0",
     "iDifferent + iMissing + iNotSent == 0"),
    ("F129", "../tools/compare/main.cpp", "        if (pages.contains(page))", "        if (false)"),
    ("F130", "../tools/compare/main.cpp", " || !S_ISREG(status.st_mode))", ")"),
    ("F131", "../tools/compare/main.cpp", "O_RDONLY | O_NONBLOCK | O_CLOEXEC", "O_RDONLY | O_CLOEXEC"),
    ("F132", "../tools/compare/main.cpp", "    if (status.st_size > iMaxFileBytes)", "    if (false)"),
    ("F133", "../tools/compare/main.cpp", "        if (sLine.endsWith(QLatin1Char('\\r')))", "        if (false)"),
    ("F134", "../tools/compare/main.cpp", "\"Unknown option '\" << sArgument <<", "\"Unknown option '\" << sLetters <<"),
    # the link: line ends before a reply, a reply that trickles in, a failed reply, a lost
    # port's disconnect, the low-latency flag
    ("F135", "mainwindow/serialtransport.cpp", "while (byte == 0 || (count == 0 && isLineEnd(byte))) {",
     "while (byte == 0) {"),
    ("F136", "mainwindow/serialtransport.cpp",
     "if (count > 0 && exchangeClock.hasExpired(iWatchdogMs + iReplyLimitMs))", "if (false)"),
    ("F137", "mainwindow/serialtransport.cpp", "            if (count > 0 && bReadError)\n                return count;\n",
     ""),
    ("F138", "mainwindow/connection.cpp", "        if (serialPort.isOpen()) {", "        if (true) {"),
    ("F139", "mainwindow/lowlatency.cpp", "serial.flags | ASYNC_LOW_LATENCY", "serial.flags"),
    ("F140", "mainwindow/connection.cpp", "        lowLatency.restore(serialPort.handle());\n", ""),
    # SEND reads only a regular file
    ("F141", "mainwindow/nvramwrite.cpp", " || !S_ISREG(status.st_mode)) {", ") {"),
    # words a technician can act on: English reasons, boxes that fit the screen
    ("F142", "mainwindow/systemreason.cpp", "::strerror_l(error, cLocale)", "::strerror(error)"),
    ("F143", "mainwindow/mainwindow.cpp", "if (sWord.length() > iLongestWord)", "if (false)"),
    ("F144", "mainwindow/nvramreport.cpp", "iPagesRead == 1 ? \"pages was\"", "iPagesRead == 0 ? \"pages was\""),
    # answers that are not the page's or the command's own
    ("F31a", "mainwindow/prefixrule.cpp", "        --m_iAnswers; // a broken answer teaches nothing\n        return false;",
     "        return true;"),
    ("F31b", "mainwindow/serialtransport.cpp", "    return byte == 0x11 || byte == 0x13;", "    return false;"),
    ("F31c", "mainwindow/serialtransport.cpp", "        sReply.remove(0, sLastCommand.length());", "        ;"),
    ("F31d", "mainwindow/serialtransport.cpp", "            bReplyHadNul = bReplyHadFlowControl = false;", "            ;"),
    ("F31e", "mainwindow/serialtransport.cpp", "        collectReply();\n    }", "        break;\n    }"),
    ("F31f", "mainwindow/nvramread.cpp", "            if (isGreetingAnswer(answer.sReply)) {", "            if (false) {"),
    ("F31g", "mainwindow/nvramwrite.cpp", "sReply != sKeepAliveAnswer && sReply != sRule) {",
     "false) {"),
    ("F31h", "mainwindow/nvramwrite.cpp", "        } else if (!sRule.isEmpty() && sReply != sRule) {",
     "        } else if (false) {"),
    ("F31i", "mainwindow/nvramread.cpp", "            if (!rule.learned() && page == 1) {\n                rule.giveUp();",
     "            if (true) {\n                rule.giveUp();"),
    ("F31j", "mainwindow/nvramread.cpp", "        if (pageText.length() > 4)\n            reasons", "        if (false)\n            reasons"),
    # one name, several technicians: dead reads, the group's modes, signals, planted locks
    ("F150", "mainwindow/dumpfiles.cpp", "::fchmod(fd, 0664) != 0", "::fchmod(fd, 0644) != 0"),
    ("F151", "mainwindow/dumpfiles.cpp", "        if (status.st_uid == ::geteuid()) {", "        if (true) {"),
    ("F152", "mainwindow/nvramread.cpp", "(part.bCreated || (report.bWriteFailed && file.size() == 0))",
     "(part.bCreated || file.size() == 0)"),
    ("F153", "main/main.cpp", "    QuitSignals quitSignals;\n", ""),
    ("F154", "singleapplication/qtlocalpeer.cpp", "if (lockFile.hasLock() || !lockFile.isOpen())",
     "if (lockFile.hasLock())"),
    ("F155", "singleapplication/qtlocalpeer.cpp", " && opened.st_uid == ::geteuid()", ""),
    ("F156", "mainwindow/stalelock.cpp", "|| lock.st_uid == ::geteuid()", "|| true"),
    ("F157", "mainwindow/dumpfiles.cpp", "if (!bEmpty)\n            part.sAside", "if (true)\n            part.sAside"),
]


def run(cmd, cwd, log):
    with open(log, "w") as out:
        return subprocess.call(cmd, cwd=cwd, stdout=out, stderr=subprocess.STDOUT)


def first_failure(log):
    """The ctest test and the Qt Test case (function and row) that failed first."""
    text = open(log, errors="replace").read()
    test = re.search(r"^\s*\d+/\d+ Test\s+#\d+: (\S+) \.+\*?\*?\*?\s*(Failed|Timeout|Exception|Not Run)",
                     text, re.M)
    case = re.search(r"^FAIL!\s+: (\S+?::\w+\(.*?\))(?= )", text, re.M)
    return "%s: %s" % (test.group(1) if test else "ctest", case.group(1) if case else "no FAIL! line")


def build_and_test(build, tree, log, ctest):
    return run(["cmake", "--build", build], tree, log) == 0 and run(ctest, build, log) == 0


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--only", help="comma-separated fault ids")
    parser.add_argument("--scratch", help="an empty or new directory (default: a new one in /tmp)")
    parser.add_argument("--check", action="store_true")
    args = parser.parse_args()

    root = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
    chosen = [f for f in FAULTS if not args.only or f[0] in args.only.split(",")]

    for fid, path, old, _ in chosen:
        count = open(os.path.join(root, "src", path)).read().count(old)
        if count != 1:
            sys.exit(f"{fid}: the text to change occurs {count} times in src/{path}")
    if args.check:
        print(f"{len(chosen)} faults apply")
        return

    # A fresh directory and a clean build every run. The tree is copied
    # without its time stamps: a copied source older than an object built
    # with a fault in an earlier run would not be rebuilt.
    scratch = args.scratch or tempfile.mkdtemp(prefix="aux-nvram-fault-tally-")
    os.makedirs(scratch, exist_ok=True)
    if os.listdir(scratch):
        sys.exit(f"{scratch} is not empty")
    tree = os.path.join(scratch, "tree")
    build = os.path.join(scratch, "build")
    shutil.copytree(root, tree, symlinks=True, copy_function=shutil.copy,
                    ignore=lambda d, names: [n for n in names if d == root
                                             and (n.startswith("build") or n == ".git")])
    subprocess.check_call(["cmake", "-S", tree, "-B", build, "-G", "Ninja",
                           "-DCMAKE_BUILD_TYPE=RelWithDebInfo"], stdout=subprocess.DEVNULL)
    ctest = ["ctest", "--stop-on-failure", "--parallel", "2", "--timeout", "300", "--output-on-failure"]
    print(f"scratch directory {scratch}", flush=True)
    started = time.time()
    log = os.path.join(scratch, "unchanged.txt")
    if not build_and_test(build, tree, log, ctest):
        sys.exit(f"the unchanged tree does not pass; see {log}")
    print(f"unchanged tree passes in {time.time() - started:.0f} s", flush=True)

    missed = []
    results = open(os.path.join(scratch, "results.tsv"), "w")
    for fid, path, old, new in chosen:
        source = os.path.join(tree, "src", path)
        original = open(source).read()
        open(source, "w").write(original.replace(old, new, 1))
        started = time.time()
        flog = os.path.join(scratch, f"{fid}.txt")
        try:
            if run(["cmake", "--build", build], tree, flog) != 0:
                verdict = "DOES NOT BUILD"
                missed.append(fid)
            elif run(ctest, build, flog) == 0:
                verdict = "MISSED"
                missed.append(fid)
            else:
                verdict = "caught by " + first_failure(flog)
        finally:
            open(source, "w").write(original)
        print(f"{fid}  src/{path:38} {verdict}  ({time.time() - started:.0f} s)", flush=True)
        results.write(f"{fid}\tsrc/{path}\t{verdict}\n")
        results.flush()

    print(f"\n{len(chosen) - len(missed)} of {len(chosen)} caught; missed: {' '.join(missed) or 'none'}")
    log = os.path.join(scratch, "restored.txt")
    if not build_and_test(build, tree, log, ctest):
        sys.exit(f"the restored tree does not pass; see {log}")
    print("the restored tree passes", flush=True)


if __name__ == "__main__":
    main()
