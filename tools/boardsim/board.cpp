#include "board.h"

#include <cstdio>
#include <cstdlib>

namespace {

const char kError[] = "ERR#";
const std::size_t kMaxRawBytes = 65536;

// The board puts seven characters of its own in front of a page text:
// the command code, the page text as asked and '=' padding.
std::string pagePrefix(const std::string &code, const std::string &page)
{
    return (code + page + "=======").substr(0, 7);
}

} // namespace

Board::Board(Nvram &nvram, std::string savePath)
    : m_nvram(nvram), m_saved(nvram), m_savePath(std::move(savePath))
{
}

std::string Board::restart(bool loseUnsaved)
{
    if (loseUnsaved)
        m_nvram = m_saved;
    return answer("A9");
}

std::string Board::answer(const std::string &body)
{
    const std::string code = body.substr(0, 2);
    const std::string argument = body.size() > 2 ? body.substr(2) : std::string();
    if ((code == "A9" || code == "C0") && argument.empty())
        return code + "OK#";
    if (code == "A6" || code == "A7")
        return readPage(code, argument, code == "A7");
    if (code == "A4" || code == "A5")
        return writePage(code, argument, code == "A5");
    if (code == "A8" && argument.empty())
        return save();
    std::string raw;
    if (code == "T0" && decodeRawBytes(argument, raw))
        return raw;
    return kError;
}

std::string Board::readPage(const std::string &code, const std::string &page,
                            bool description) const
{
    unsigned long number = 0;
    if (!parseHexNumber(page, number))
        return kError;
    const NvramPage *p = m_nvram.page(number);
    if (!p)
        return pagePrefix(code, page) + "#"; // the 8-character refusal
    return pagePrefix(code, page) + (description ? p->description : p->value) + "#";
}

std::string Board::writePage(const std::string &code, const std::string &argument, bool description)
{
    // The page number is the first four characters; the board cannot tell
    // a longer page number from text that follows it.
    unsigned long number = 0;
    if (argument.size() < 4 || !parseHexNumber(argument.substr(0, 4), number))
        return kError;
    NvramPage &p = m_nvram.pageForWrite(number);
    (description ? p.description : p.value) = argument.substr(4);
    return code + "OK#";
}

std::string Board::save()
{
    m_saved = m_nvram;
    if (m_savePath.empty())
        return "A8OK#";
    std::string error;
    if (!m_nvram.save(m_savePath, error)) {
        std::fprintf(stderr, "aux-board-sim: %s\n", error.c_str());
        return kError;
    }
    return "A8OK#";
}

bool decodeRawBytes(const std::string &argument, std::string &bytes)
{
    bytes.clear();
    std::size_t start = 0;
    while (start <= argument.size() && !argument.empty()) {
        std::size_t end = argument.find(',', start);
        if (end == std::string::npos)
            end = argument.size();
        const std::string group = argument.substr(start, end - start);
        const std::size_t star = group.find('*');
        const std::string hex = group.substr(0, star);
        unsigned long repeat = 1;
        if (star != std::string::npos) {
            const std::string count = group.substr(star + 1);
            char *stop = nullptr;
            if (count.empty() || count[0] < '0' || count[0] > '9')
                return false;
            repeat = std::strtoul(count.c_str(), &stop, 10);
            if (*stop != '\0')
                return false;
        }
        if (hex.size() % 2 != 0)
            return false;
        std::string once;
        for (std::size_t i = 0; i < hex.size(); i += 2) {
            unsigned long value = 0;
            if (!parseHexNumber(hex.substr(i, 2), value))
                return false;
            once += static_cast<char>(value);
        }
        if (!once.empty() && repeat > (kMaxRawBytes - bytes.size()) / once.size())
            return false;
        for (unsigned long i = 0; i < repeat; ++i)
            bytes += once;
        start = end + 1;
    }
    return true;
}
