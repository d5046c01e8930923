#ifndef PREFIXRULE_H
#define PREFIXRULE_H

#include <QString>

// What a board puts in the seven characters before a page's text, learned
// during one read from its own answers of one kind ($A6 or $A7): either the
// same seven characters every time, or the page's text as the command wrote
// it at one fixed place with the rest the same. Page 0's answer gives the
// rules it could follow, and every later answer keeps those it follows.
class PrefixRule
{
public:
    // Whether prefix may begin the answer about pageText. The first call
    // learns; a board found to follow no rule fits whatever it sends.
    bool fits(const QString &prefix, const QString &pageText);
    // Some rule has held over two pages, so a break is worth a question.
    bool learned() const { return m_iAnswers > 1 && m_candidates != 0; }
    // The board follows no rule that the tool knows: nothing is checked.
    void giveUp() { m_bNone = true; }
    bool givenUp() const { return m_bNone; }

    QString sPageZeroAnswer; // the whole first answer, for asking it again

private:
    unsigned matching(const QString &prefix, const QString &pageText) const;

    QString m_template;
    unsigned m_candidates = 0; // bit k < 7: the page's text from place k on
    int m_iAnswers = 0;
    bool m_bNone = false;
};

#endif // PREFIXRULE_H
