#include "options.h"
#include "board.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace {

// Accepts a decimal number in [0, max] and nothing else.
bool parseCount(const std::string &text, long max, long &out)
{
    if (text.empty() || text[0] < '0' || text[0] > '9')
        return false;
    char *end = nullptr;
    errno = 0;
    const long value = std::strtol(text.c_str(), &end, 10);
    if (errno != 0 || *end != '\0' || value > max)
        return false;
    out = value;
    return true;
}

bool parseFault(const std::string &text, Options &options)
{
    struct Simple
    {
        const char *name;
        FaultKind kind;
    };
    static const Simple simple[] = {
        { "silent", FaultKind::Silent },
        { "garbage", FaultKind::Garbage },
        { "no-terminator", FaultKind::NoTerminator },
        { "nul", FaultKind::Nul },
        { "first-char-only", FaultKind::FirstCharOnly },
        { "echo", FaultKind::Echo },
        { "double-keepalive", FaultKind::DoubleKeepAlive },
    };
    for (const Simple &s : simple) {
        if (text == s.name) {
            options.fault = s.kind;
            return true;
        }
    }
    struct Counted
    {
        const char *prefix;
        FaultKind kind;
    };
    static const Counted counted[] = {
        { "silent-after=", FaultKind::SilentAfter },
        { "hangup-after=", FaultKind::HangupAfter },
        { "stall-after=", FaultKind::StallAfter },
        { "endless-after=", FaultKind::EndlessAfter },
        { "drop-after=", FaultKind::DropAfter },
        { "crlf-after=", FaultKind::CrLfAfter },
        { "dribble=", FaultKind::Dribble },
        { "stray-before=", FaultKind::StrayBefore },
        { "stray-inside=", FaultKind::StrayInside },
        { "restart-after=", FaultKind::RestartAfter },
        { "restart-lose-after=", FaultKind::RestartLoseAfter },
        { "late-keepalive=", FaultKind::LateKeepAlive },
        { "wrong-page-after=", FaultKind::WrongPageAfter },
    };
    for (const Counted &c : counted) {
        const std::size_t len = std::strlen(c.prefix);
        if (text.compare(0, len, c.prefix) == 0) {
            options.fault = c.kind;
            return parseCount(text.substr(len), 1000000000L, options.faultCount);
        }
    }
    return false;
}

} // namespace

bool parseOptions(int argc, char **argv, Options &options, std::string &error)
{
    for (int i = 1; i < argc; ++i) {
        std::string name = argv[i];
        std::string value;
        bool hasValue = false;
        // Both "--name value" and "--name=value" are accepted.
        const std::size_t eq = name.find('=');
        if (name.compare(0, 2, "--") == 0 && eq != std::string::npos) {
            value = name.substr(eq + 1);
            name.resize(eq);
            hasValue = true;
        }
        if (name == "--help") {
            options.help = true;
            continue;
        }
        const bool takesValue = name == "--pages" || name == "--load" || name == "--save"
                || name == "--log" || name == "--baud" || name == "--turnaround"
                || name == "--stall" || name == "--latency-timer" || name == "--fault"
                || name == "--stray";
        if (!takesValue) {
            error = "unknown option: " + std::string(argv[i]);
            return false;
        }
        if (!hasValue) {
            if (i + 1 >= argc) {
                error = "option " + name + " needs a value";
                return false;
            }
            value = argv[++i];
        }
        long number = 0;
        bool ok = true;
        if (name == "--pages") {
            ok = parseCount(value, 0x10000, number);
            options.pages = static_cast<int>(number);
        } else if (name == "--load") {
            options.loadPath = value;
        } else if (name == "--save") {
            options.savePath = value;
        } else if (name == "--log") {
            options.logPath = value;
        } else if (name == "--baud") {
            ok = parseCount(value, 10000000L, options.baud);
        } else if (name == "--turnaround") {
            ok = parseCount(value, 3600000L, options.turnaroundMs);
        } else if (name == "--stall") {
            ok = parseCount(value, 3600000L, options.stallMs);
        } else if (name == "--latency-timer") {
            ok = parseCount(value, 3600000L, options.latencyTimerMs);
        } else if (name == "--fault") {
            ok = parseFault(value, options);
        } else if (name == "--stray") {
            ok = decodeRawBytes(value, options.stray) && !options.stray.empty();
        }
        if (!ok || value.empty()) {
            error = "bad value for " + name + ": '" + value + "'";
            return false;
        }
    }
    return true;
}

std::string usageText(const char *program)
{
    return std::string("Usage: ") + program
            + " [options]\n"
              R"(Simulated AUX PCB on a pseudo-terminal. Prints the terminal's path as the
first line on stdout, then answers board commands until SIGTERM or SIGINT.

Options:
  --pages N          generate N NVRAM pages (default 16, at most 65536);
                     page 0 holds the number of the last page
  --load FILE        load the NVRAM from an .nvr file instead
  --save FILE        "$A8%" writes the NVRAM to FILE as an .nvr file
  --log FILE         write one line per received frame:
                     "<monotonic ms> <frame>[ INCOMPLETE]"; in the frame,
                     a line feed is written as \n and a backslash as \\
  --baud N           pace commands and replies like an 8N1 line at N baud
                     (default 57600; 0 answers at once)
  --turnaround MS    extra delay before every reply (default 0)
  --stall MS         how long stall-after=N pauses (default 3000)
  --latency-timer MS hold reply bytes as a USB serial adapter does: until
                     MS have passed since the first held byte, or 62 bytes
                     are held (default 0: not held; FTDI chips: 16)
  --stray HEX        the bytes of stray-before=N and stray-inside=N, as hex
                     pairs (default 20, a space; 11 is XON, 13 XOFF)
  --fault MODE       misbehave in one way:
                       silent           never answer
                       silent-after=N   answer N frames, then never again
                       garbage          stray bytes before every reply
                       no-terminator    replies without their '#'
                       nul              NUL bytes inside every reply
                       first-char-only  send only the first byte of a reply
                       hangup-after=N   answer N frames, then close the
                                        line and exit 0 (N=0: at once)
                       stall-after=N    answer N frames, then send half of
                                        the next reply, pause (--stall) and
                                        send the rest
                       endless-after=N  answer N frames, then send 'z'
                                        without end and answer no more
                       drop-after=N     answer N frames, then lose the next
                                        one: not carried out, not answered
                       crlf-after=N     answer N frames, then end every reply
                                        with CR LF, 20 ms after its '#' (so
                                        after the next command when the tool
                                        sends it at once)
                       dribble=N        send every reply byte N ms after the
                                        one before, the first N ms after the
                                        command
                       stray-before=N   the --stray bytes before every N-th
                                        reply
                       stray-inside=N   the --stray bytes before the last
                                        byte of every N-th reply
                       echo             send every command back before its
                                        reply
                       restart-after=N  answer N frames, then answer the next
                                        with the greeting's reply "A9OK#"
                                        instead of carrying it out
                       restart-lose-after=N  the same, and forget every value
                                        written since the last save
                       late-keepalive=N  answer N keep-alives, then each
                                        later one 2200 ms late
                       double-keepalive  answer every keep-alive twice, the
                                        second time 20 ms later
                       wrong-page-after=N  answer N frames, then every read of
                                        a page with the next page's answer
  --help             show this text

Commands: $A9% $C0% $A6<page>% $A7<page>% $A4<page><value>%
$A5<page><description>% $A8%, and for tests $T0<bytes>%, which sends the
given bytes verbatim: hex pairs, in comma-separated groups that may end
in *N to repeat the group N times ("$T041*200,23%" sends 200 'A' and '#').
Exit status: 0 on SIGTERM/SIGINT or hang-up, 1 on a runtime failure,
2 on a bad command line.
)";
}
