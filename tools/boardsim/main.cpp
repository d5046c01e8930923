// aux-board-sim: a stand-in for the AUX PCB on a pseudo-terminal, used by the
// tests, the benchmarks and demos since the real board is rarely at hand.
#include "board.h"
#include "faults.h"
#include "framelog.h"
#include "frames.h"
#include "line.h"
#include "nvram.h"
#include "options.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <algorithm>
#include <deque>
#include <poll.h>
#include <sys/signalfd.h>
#include <unistd.h>

namespace {

// How long after a reply's '#' the line end of crlf-after=N follows.
const std::int64_t kLineEndDelayNs = 20000000;

// SIGTERM and SIGINT arrive as readable data on a signalfd next to the line,
// so they end the program even while input keeps the line busy.
int stopSignalFd()
{
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGTERM);
    sigaddset(&stopSignals, SIGINT);
    sigprocmask(SIG_BLOCK, &stopSignals, nullptr);
    // A tool that vanishes mid-write must not kill the board.
    signal(SIGPIPE, SIG_IGN);
    return signalfd(-1, &stopSignals, SFD_CLOEXEC);
}

int fail(const std::string &message, int status)
{
    std::fprintf(stderr, "aux-board-sim: %s\n", message.c_str());
    return status;
}

} // namespace

int main(int argc, char **argv)
{
    Options options;
    std::string error;
    if (!parseOptions(argc, argv, options, error))
        return fail(error + " (see --help)", 2);
    if (options.help) {
        std::fputs(usageText("aux-board-sim").c_str(), stdout);
        return 0;
    }

    Nvram nvram;
    if (options.loadPath.empty())
        nvram.generate(options.pages);
    else if (!nvram.load(options.loadPath, error))
        return fail(error, 1);

    FrameLog log;
    if (!options.logPath.empty() && !log.open(options.logPath))
        return fail("cannot open log " + options.logPath, 1);

    const int stopFd = stopSignalFd();
    if (stopFd < 0)
        return fail("signalfd failed", 1);

    PtyLine line(options.baud, options.turnaroundMs, options.latencyTimerMs);
    if (!line.open(error))
        return fail(error, 1);
    std::printf("%s\n", line.slavePath().c_str());
    std::fflush(stdout);

    Board board(nvram, options.savePath);
    FaultInjector faults(options.fault, options.faultCount, options.stray);
    FrameAssembler assembler;
    // Late keep-alive answers, due at their time, while later frames are
    // answered as usual.
    std::deque<std::pair<std::int64_t, std::string>> late;

    while (!faults.hangUpNow()) {
        while (!late.empty() && late.front().first <= monotonicNs()) {
            line.sendReply(late.front().second, 0, 0);
            late.pop_front();
        }
        const short lineEvents = faults.endlessNow() ? POLLIN | POLLOUT : POLLIN;
        pollfd watched[2] = { { line.masterFd(), lineEvents, 0 }, { stopFd, POLLIN, 0 } };
        const int timeoutMs = late.empty()
                ? -1
                : int(std::max<std::int64_t>(0,
                                             (late.front().first - monotonicNs()) / 1000000 + 1));
        const int ready = ::poll(watched, 2, timeoutMs);
        if (ready == 0)
            continue;
        if (ready < 0) {
            if (errno == EINTR)
                continue;
            return fail("poll failed", 1);
        }
        if (watched[1].revents != 0)
            break;
        if ((watched[0].revents & POLLOUT) != 0)
            line.sendNoise();
        char buffer[4096];
        const ssize_t n = ::read(line.masterFd(), buffer, sizeof buffer);
        if (n < 0 && (errno == EAGAIN || errno == EINTR))
            continue;
        if (n <= 0)
            return fail("the line broke down", 1); // never while the slave fd is held
        const std::int64_t now = monotonicNs();
        for (const Frame &frame : assembler.feed(buffer, static_cast<std::size_t>(n), now)) {
            log.write(frame);
            if (!frame.complete || faults.dropsFrame())
                continue;
            const bool keepAlive = frame.body() == "C0";
            std::string body = frame.body();
            unsigned long page = 0;
            if (faults.wrongPageNow()
                && (body.compare(0, 2, "A6") == 0 || body.compare(0, 2, "A7") == 0)
                && parseHexNumber(body.substr(2), page)) {
                char next[16];
                std::snprintf(next, sizeof next, "%0*lX", int(body.size() - 2), page + 1);
                body = body.substr(0, 2) + next;
            }
            std::string reply = faults.restartsNow()
                    ? board.restart(options.fault == FaultKind::RestartLoseAfter)
                    : board.answer(body);
            if (options.fault == FaultKind::Echo)
                reply.insert(0, frame.text);
            const long keepAliveDelayMs = keepAlive ? faults.keepAliveDelayMs() : 0;
            if (faults.shape(reply)) {
                if (keepAliveDelayMs > 0) {
                    late.emplace_back(monotonicNs() + keepAliveDelayMs * 1000000, reply);
                } else if (options.fault == FaultKind::Dribble) {
                    const std::int64_t from = monotonicNs();
                    const std::int64_t pauseNs = std::int64_t(options.faultCount) * 1000000;
                    for (std::size_t i = 0; i < reply.size(); ++i)
                        line.sendReply(reply.substr(i, 1), from + std::int64_t(i + 1) * pauseNs, 0);
                } else {
                    line.sendReply(reply, frame.startNs, frame.text.size());
                }
                // Late enough to come after the tool's next command, which
                // clears the port before it is written.
                if (faults.lineEndNow())
                    line.sendReply("\r\n", monotonicNs() + kLineEndDelayNs, 0);
                if (keepAlive && faults.keepAliveTwice())
                    line.sendReply(reply, monotonicNs() + kLineEndDelayNs, 0);
            }
            const std::string tail = faults.takeStalledTail();
            if (!tail.empty())
                line.sendReply(tail, monotonicNs() + options.stallMs * 1000000, 0);
            if (faults.hangUpNow()) {
                line.waitUntilRead(1000);
                break;
            }
        }
    }
    line.hangUp();
    return 0;
}
