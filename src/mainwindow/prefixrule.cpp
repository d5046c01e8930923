#include "prefixrule.h"

namespace {
constexpr int iPrefixLength = 7;
constexpr unsigned iSameEveryTime = 1U << iPrefixLength;
} // namespace

unsigned PrefixRule::matching(const QString &prefix, const QString &pageText) const
{
    unsigned mask = prefix == m_template ? iSameEveryTime : 0;
    for (int k = 0; k < iPrefixLength; ++k) {
        // Nothing tells where a board puts five digits when it was seen with
        // four: only the rule of the same seven characters is checked there.
        if (pageText.length() > 4) {
            mask |= 1U << k;
            continue;
        }
        QString expected = m_template;
        for (int i = k; i < expected.length() && i - k < pageText.length(); ++i)
            expected[i] = pageText.at(i - k);
        if (prefix == expected)
            mask |= 1U << k;
    }
    return mask;
}

bool PrefixRule::fits(const QString &prefix, const QString &pageText)
{
    if (m_bNone)
        return true;
    if (m_iAnswers++ == 0) {
        m_template = prefix;
        m_candidates = matching(prefix, pageText);
        return true;
    }
    const unsigned mask = matching(prefix, pageText) & m_candidates;
    if (mask == 0) {
        --m_iAnswers; // a broken answer teaches nothing
        return false;
    }
    m_candidates = mask;
    return true;
}
