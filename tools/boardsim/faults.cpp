#include "faults.h"

namespace {

// Line noise: no '#' that could end a reply early, no NUL that the tool
// would silently drop.
const char kGarbage[] = "\xFF~\x7F";

} // namespace

FaultInjector::FaultInjector(FaultKind kind, long count, std::string stray)
    : m_kind(kind), m_count(count), m_stray(std::move(stray))
{
}

bool FaultInjector::shape(std::string &reply)
{
    switch (m_kind) {
    case FaultKind::None:
    case FaultKind::HangupAfter:
    case FaultKind::DropAfter:
    case FaultKind::CrLfAfter:
    case FaultKind::Dribble:
    case FaultKind::Echo:
    case FaultKind::RestartAfter:
    case FaultKind::RestartLoseAfter:
    case FaultKind::LateKeepAlive:
    case FaultKind::DoubleKeepAlive:
    case FaultKind::WrongPageAfter:
        break;
    case FaultKind::StrayBefore:
    case FaultKind::StrayInside:
        if (m_count > 0 && (m_answered + 1) % m_count == 0 && !reply.empty())
            reply.insert(m_kind == FaultKind::StrayBefore ? 0 : reply.size() - 1, m_stray);
        break;
    case FaultKind::Silent:
        return false;
    case FaultKind::SilentAfter:
    case FaultKind::EndlessAfter:
        if (m_answered >= m_count)
            return false;
        break;
    case FaultKind::Garbage:
        reply.insert(0, kGarbage);
        break;
    case FaultKind::NoTerminator:
        if (!reply.empty() && reply.back() == '#')
            reply.pop_back();
        break;
    case FaultKind::Nul: {
        std::string spread;
        for (std::size_t i = 0; i < reply.size(); ++i) {
            if (i > 0)
                spread += '\0';
            spread += reply[i];
        }
        reply = spread;
        break;
    }
    case FaultKind::FirstCharOnly:
        reply.resize(reply.empty() ? 0 : 1);
        break;
    case FaultKind::StallAfter:
        if (m_answered == m_count) {
            m_stalledTail = reply.substr(reply.size() / 2);
            reply.resize(reply.size() / 2);
        }
        break;
    }
    ++m_answered;
    return true;
}

bool FaultInjector::dropsFrame()
{
    if (m_kind != FaultKind::DropAfter || m_answered != m_count)
        return false;
    ++m_answered; // only this one frame is lost
    return true;
}

std::string FaultInjector::takeStalledTail()
{
    std::string tail;
    tail.swap(m_stalledTail);
    return tail;
}

bool FaultInjector::restartsNow() const
{
    return (m_kind == FaultKind::RestartAfter || m_kind == FaultKind::RestartLoseAfter)
            && m_answered == m_count;
}

long FaultInjector::keepAliveDelayMs()
{
    return m_kind == FaultKind::LateKeepAlive && ++m_keepAlives > m_count ? 2200 : 0;
}

bool FaultInjector::wrongPageNow() const
{
    return m_kind == FaultKind::WrongPageAfter && m_answered >= m_count;
}

bool FaultInjector::keepAliveTwice() const
{
    return m_kind == FaultKind::DoubleKeepAlive;
}

bool FaultInjector::hangUpNow() const
{
    return m_kind == FaultKind::HangupAfter && m_answered >= m_count;
}

bool FaultInjector::lineEndNow() const
{
    return m_kind == FaultKind::CrLfAfter && m_answered > m_count;
}

bool FaultInjector::endlessNow() const
{
    return m_kind == FaultKind::EndlessAfter && m_answered >= m_count;
}
