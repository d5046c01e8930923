#include "nvram.h"

#include <cstdio>
#include <cstring>
#include <fstream>

namespace {

const char kFieldSeparator[] = " | ";

// Page number text as the tool writes it: upper-case hex, at least 4 digits.
std::string pageText(unsigned long number)
{
    char buffer[24];
    std::snprintf(buffer, sizeof buffer, "%04lX", number);
    return buffer;
}

std::vector<std::string> splitFields(std::string line)
{
    std::string folded;
    for (std::size_t i = 0; i < line.size();) {
        if (line.compare(i, 3, kFieldSeparator) == 0) {
            folded += '|';
            i += 3;
        } else {
            folded += line[i++];
        }
    }
    std::vector<std::string> fields(1);
    for (char c : folded) {
        if (c == '|')
            fields.emplace_back();
        else
            fields.back() += c;
    }
    return fields;
}

} // namespace

bool parseHexNumber(const std::string &text, unsigned long &out)
{
    if (text.empty() || text.size() > 8)
        return false;
    unsigned long value = 0;
    for (char c : text) {
        int digit;
        if (c >= '0' && c <= '9')
            digit = c - '0';
        else if (c >= 'A' && c <= 'F')
            digit = c - 'A' + 10;
        else if (c >= 'a' && c <= 'f')
            digit = c - 'a' + 10;
        else
            return false;
        value = value * 16 + static_cast<unsigned long>(digit);
    }
    out = value;
    return true;
}

std::string latin1ToUtf8(const std::string &latin1)
{
    std::string out;
    for (unsigned char c : latin1) {
        if (c < 0x80) {
            out += static_cast<char>(c);
        } else {
            out += static_cast<char>(0xC0 | (c >> 6));
            out += static_cast<char>(0x80 | (c & 0x3F));
        }
    }
    return out;
}

std::string utf8ToLatin1(const std::string &utf8)
{
    std::string out;
    for (std::size_t i = 0; i < utf8.size();) {
        const unsigned char lead = static_cast<unsigned char>(utf8[i]);
        std::size_t length = 1;
        if (lead >= 0xF0)
            length = 4;
        else if (lead >= 0xE0)
            length = 3;
        else if (lead >= 0xC0)
            length = 2;
        if (lead < 0x80) {
            out += static_cast<char>(lead);
        } else if (length == 2 && i + 1 < utf8.size()
                   && (static_cast<unsigned char>(utf8[i + 1]) & 0xC0) == 0x80) {
            const unsigned code =
                    ((lead & 0x1Fu) << 6) | (static_cast<unsigned char>(utf8[i + 1]) & 0x3Fu);
            out += code <= 0xFF ? static_cast<char>(code) : '?';
        } else {
            out += '?';
        }
        // Skip the continuation bytes of whatever sequence this was.
        ++i;
        while (length > 1 && i < utf8.size()
               && (static_cast<unsigned char>(utf8[i]) & 0xC0) == 0x80) {
            ++i;
            --length;
        }
    }
    return out;
}

void Nvram::generate(int count)
{
    // A mix that exercises the tool: Latin-1 bytes, blanks at the edges,
    // a blank-only text and a long one. Never an empty text (the tool takes
    // an empty reply for the end of the NVRAM), nor '|', '#' or NUL, which
    // the file format and the reply framing cannot carry.
    static const char *const descriptions[] = {
        "Motor speed limit",
        "Temp\xE9rature max \xB0"
        "C",
        "Gr\xFC"
        "n zeit",
        "  padded description  ",
        " ",
        "Pressure offset (mbar)",
        "Fan curve point; see manual section 4.2, table of set points",
        "Caf\xE9 mode",
    };
    static const char *const values[] = {
        "250", "-12", "0x1F", " 7 ", "OFF", "3.1415", "ON", "\xE9t\xE9", "65535",
    };
    m_pages.assign(static_cast<std::size_t>(count), NvramPage());
    for (int i = 1; i < count; ++i) {
        NvramPage &p = m_pages[static_cast<std::size_t>(i)];
        p.value = values[i % (sizeof values / sizeof *values)];
        p.description = descriptions[i % (sizeof descriptions / sizeof *descriptions)];
    }
    if (count > 0) {
        m_pages[0].value = std::to_string(count - 1);
        m_pages[0].description = "Last page number";
    }
}

bool Nvram::load(const std::string &path, std::string &error)
{
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        error = "cannot open " + path + ": " + std::strerror(errno);
        return false;
    }
    m_pages.clear();
    std::string line;
    std::getline(in, line); // header, never looked at
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        const std::vector<std::string> fields = splitFields(utf8ToLatin1(line));
        unsigned long number = 0;
        if (fields.size() < 2 || !parseHexNumber(fields[0], number) || number > 0xFFFFF)
            continue;
        NvramPage &p = pageForWrite(number);
        p.value = fields[1];
        p.description = fields.size() > 2 ? fields[2] : std::string();
    }
    return true;
}

bool Nvram::save(const std::string &path, std::string &error) const
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << "Page Number" << kFieldSeparator << "Value" << kFieldSeparator << "Description\n";
    for (std::size_t i = 0; i < m_pages.size(); ++i) {
        out << pageText(i) << kFieldSeparator << latin1ToUtf8(m_pages[i].value) << kFieldSeparator
            << latin1ToUtf8(m_pages[i].description) << '\n';
    }
    out.close();
    if (!out) {
        error = "cannot write " + path;
        return false;
    }
    return true;
}

const NvramPage *Nvram::page(unsigned long number) const
{
    return number < m_pages.size() ? &m_pages[number] : nullptr;
}

NvramPage &Nvram::pageForWrite(unsigned long number)
{
    if (number >= m_pages.size())
        m_pages.resize(number + 1);
    return m_pages[number];
}
