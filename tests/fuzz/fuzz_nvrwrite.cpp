// A fuzzed .nvr file through the real write transfer: the window sends it
// to a pty whose far end this harness answers, and every command that goes
// out must be the one the file's line calls for, in order.
//
// Rules the check holds the transfer to: the first line is the header; a
// line with fewer than two fields is skipped; two fields send "$A4" only;
// three or more send "$A4"+f0+f1+"%" then "$A5"+f0+f2+"%"; a line whose
// commands hold a character above U+00FF, whose page field is not four or
// five upper-case hex digits, or one of whose commands is over 90 bytes, is
// skipped whole; "$A8%" ends the transfer.

#include "ptyharness.h"

#include <QBuffer>
#include <QFile>
#include <QTemporaryDir>
#include <QTextStream>

#include <atomic>
#include <cstdint>
#include <mutex>
#include <poll.h>
#include <thread>

static PtyWindow pty;
static QTemporaryDir *scratch;
static std::mutex lock;
static QList<QByteArray> received;

// The board: every burst of bytes is one command (the tool writes each
// command at once and waits for its reply), answered with a bare '#'.
static void answerCommands()
{
    char buffer[4096];
    for (;;) {
        pollfd p { pty.master, POLLIN, 0 };
        if (::poll(&p, 1, -1) <= 0)
            continue;
        const ssize_t n = ::read(pty.master, buffer, sizeof buffer);
        if (n <= 0)
            continue;
        {
            std::lock_guard<std::mutex> guard(lock);
            received.append(QByteArray(buffer, n));
        }
        while (::write(pty.master, "#", 1) != 1) {
        }
    }
}

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    pty.open();
    scratch = new QTemporaryDir;
    std::thread(answerCommands).detach();
    return 0;
}

// Cuts a line the way the file format says: " | " and "|" both separate
// fields, nothing is trimmed, empty fields count.
static QStringList fieldsOf(const QString &line)
{
    QStringList fields { QString() };
    for (qsizetype i = 0; i < line.size();) {
        if (line.mid(i, 3) == QLatin1String(" | ")) {
            fields.append(QString());
            i += 3;
        } else if (line[i] == QLatin1Char('|')) {
            fields.append(QString());
            ++i;
        } else {
            fields.last().append(line[i++]);
        }
    }
    return fields;
}

static bool pageField(const QString &text)
{
    if (text.size() != 4 && text.size() != 5)
        return false;
    for (QChar c : text) {
        if (!QStringLiteral("0123456789ABCDEF").contains(c))
            return false;
    }
    return true;
}

static bool latin1Only(const QString &text)
{
    for (QChar c : text) {
        if (c.unicode() > 0xFF)
            return false;
    }
    return true;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray bytes(reinterpret_cast<const char *>(data), qsizetype(size));
    const QString path = scratch->filePath(QStringLiteral("input.nvr"));
    {
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size())
            std::abort();
    }

    QList<QByteArray> expected;
    {
        // Lines come from Qt's text stream, as in the tool.
        QBuffer buffer;
        buffer.setData(bytes);
        buffer.open(QIODevice::ReadOnly);
        QTextStream stream(&buffer);
        stream.readLine();
        while (!stream.atEnd()) {
            const QStringList fields = fieldsOf(stream.readLine());
            if (fields.size() < 2)
                continue;
            const QString value = QStringLiteral("$A4") + fields[0] + fields[1] + QLatin1Char('%');
            const QString description = fields.size() >= 3
                    ? QStringLiteral("$A5") + fields[0] + fields[2] + QLatin1Char('%')
                    : QString();
            if (!pageField(fields[0]) || !latin1Only(value) || !latin1Only(description)
                || value.size() > 90 || description.size() > 90)
                continue;
            expected << value.toLatin1();
            if (!description.isEmpty())
                expected << description.toLatin1();
        }
        expected << QByteArray("$A8%");
    }

    {
        std::lock_guard<std::mutex> guard(lock);
        received.clear();
    }
    pty.window->writeNvramFromFile(path);
    QList<QByteArray> sent;
    {
        std::lock_guard<std::mutex> guard(lock);
        sent = received;
    }
    if (sent != expected) {
        std::fprintf(stderr, "sent %lld commands, expected %lld\n", (long long)sent.size(),
                     (long long)expected.size());
        for (qsizetype i = 0; i < qMax(sent.size(), expected.size()); ++i)
            std::fprintf(stderr, "%lld: sent %s expected %s\n", (long long)i,
                         i < sent.size() ? sent[i].toHex().constData() : "-",
                         i < expected.size() ? expected[i].toHex().constData() : "-");
        std::abort();
    }
    return 0;
}
