#include "framelog.h"

FrameLog::~FrameLog()
{
    if (m_file)
        std::fclose(m_file);
}

bool FrameLog::open(const std::string &path)
{
    m_file = std::fopen(path.c_str(), "wb");
    return m_file != nullptr;
}

void FrameLog::write(const Frame &frame)
{
    if (!m_file)
        return;
    std::string line;
    for (char c : frame.text) {
        if (c == '\n')
            line += "\\n";
        else if (c == '\\')
            line += "\\\\";
        else
            line += c;
    }
    std::fprintf(m_file, "%lld.%03lld ", static_cast<long long>(frame.startNs / 1000000),
                 static_cast<long long>(frame.startNs / 1000 % 1000));
    std::fwrite(line.data(), 1, line.size(), m_file);
    std::fputs(frame.complete ? "\n" : " INCOMPLETE\n", m_file);
    std::fflush(m_file);
}
