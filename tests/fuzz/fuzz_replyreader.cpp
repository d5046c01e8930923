// The reply reader fed arbitrary bytes through a real pty. Each input is
// written after the command went out and only up to where the reader stops
// (the first '#', or the 201st stored character), with a '#' added when the
// input has no stopping point, so no exchange waits for the watchdog.

#include "ptyharness.h"
#include "serialtransport.h"

#include <cstdint>

static PtyWindow pty;

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    pty.open();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    // What the line carries and what the reader must end up with.
    QByteArray line;
    QString expected;
    for (size_t i = 0; i < size && expected.length() < SerialTransport::iMaxReplyChars; ++i) {
        line.append(char(data[i]));
        if (data[i] == 0)
            continue;
        expected.append(QChar(char16_t(data[i])));
        if (data[i] == '#')
            break;
    }
    if (expected.length() < SerialTransport::iMaxReplyChars
        && !expected.endsWith(QLatin1Char('#'))) {
        line.append('#');
        expected.append(QLatin1Char('#'));
    }

    pty.window->sendCommand(QStringLiteral("$C0%"), 4);
    qsizetype done = 0;
    while (done < line.size()) {
        const ssize_t n = ::write(pty.master, line.constData() + done, size_t(line.size() - done));
        if (n > 0)
            done += n;
    }
    const int count = pty.window->readReply();
    pty.drain();

    const bool ok = count == sReply.length() && count <= SerialTransport::iMaxReplyChars
            && !sReply.contains(QChar(0))
            && (count == SerialTransport::iMaxReplyChars || sReply.endsWith(QLatin1Char('#')))
            && sReply == expected;
    if (!ok) {
        std::fprintf(stderr, "count %d, reply %s, expected %s\n", count,
                     sReply.toLatin1().toHex().constData(),
                     expected.toLatin1().toHex().constData());
        std::abort();
    }
    return 0;
}
