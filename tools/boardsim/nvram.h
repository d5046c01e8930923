// The board's parameter memory: numbered pages of value and description.
// Texts are kept as the bytes the board sends (Latin-1); .nvr files hold
// them as UTF-8.
#ifndef BOARDSIM_NVRAM_H
#define BOARDSIM_NVRAM_H

#include <string>
#include <vector>

struct NvramPage
{
    std::string value;
    std::string description;
};

class Nvram
{
public:
    // count pages of made-up content; page 0's value is the last page number.
    void generate(int count);

    // Reads an .nvr file the way the tool reads one back: the first line is
    // dropped, " | " and "|" both separate fields, fields stay untrimmed,
    // lines with fewer than two fields or a page number that is not hex are
    // skipped. Pages missing in between are left empty.
    bool load(const std::string &path, std::string &error);

    // Writes the file the tool would write after reading this board.
    bool save(const std::string &path, std::string &error) const;

    // Nullptr for a page the board does not have.
    const NvramPage *page(unsigned long number) const;

    // Grows the memory with empty pages as needed.
    NvramPage &pageForWrite(unsigned long number);

    std::size_t size() const { return m_pages.size(); }

private:
    std::vector<NvramPage> m_pages;
};

// 1 to 8 hex digits of either case, nothing else.
bool parseHexNumber(const std::string &text, unsigned long &out);

std::string latin1ToUtf8(const std::string &latin1);
// Characters beyond Latin-1 and broken sequences become '?'.
std::string utf8ToLatin1(const std::string &utf8);

#endif
