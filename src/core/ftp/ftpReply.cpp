#include "core/ftp/ftpReply.h"

#include <cctype>
#include <utility>

namespace {

bool isDigit(char c)
{
    return std::isdigit(static_cast<unsigned char>(c)) != 0;
}

// The reply code a line starts with, or -1; `separator` receives the character after it.
int codeOf(std::string_view line, char& separator)
{
    if (line.size() < 3 || !isDigit(line[0]) || !isDigit(line[1]) || !isDigit(line[2]))
        return -1;
    separator = line.size() > 3 ? line[3] : ' ';
    return (line[0] - '0') * 100 + (line[1] - '0') * 10 + (line[2] - '0');
}

// Inside a FEAT reply every feature is on a line of its own, after a blank.
bool namesMlst(std::string_view line)
{
    while (!line.empty() && line.front() == ' ')
        line.remove_prefix(1);
    if (line.size() < 4)
        return false;
    constexpr std::string_view mlst = "MLST";
    for (std::size_t i = 0; i < mlst.size(); ++i) {
        if (std::toupper(static_cast<unsigned char>(line[i])) != mlst[i])
            return false;
    }
    return true;
}

} // namespace

void FtpReplyReader::feed(std::string_view bytes)
{
    while (!bytes.empty()) {
        const auto end = bytes.find('\n');
        const std::string_view piece = bytes.substr(0, end);
        if (m_line.size() < kMaxLineBytes)
            m_line.append(piece.substr(0, kMaxLineBytes - m_line.size()));
        if (end == std::string_view::npos)
            return;
        bytes.remove_prefix(end + 1);
        std::string_view line(m_line);
        if (!line.empty() && line.back() == '\r')
            line.remove_suffix(1);
        takeLine(line);
        m_line.clear();
    }
}

void FtpReplyReader::reset()
{
    m_line.clear();
    m_openCode = -1;
    m_openText.clear();
    m_last = FtpReply{};
    m_preliminary = false;
}

void FtpReplyReader::append(std::string_view line)
{
    const std::size_t separator = m_openText.empty() ? 0 : 1;
    if (m_openText.size() + separator + line.size() > kMaxReplyBytes)
        return;
    if (separator)
        m_openText += '\n';
    m_openText += line;
}

void FtpReplyReader::takeLine(std::string_view line)
{
    char separator = ' ';
    const int code = codeOf(line, separator);
    if (m_openCode < 0) {
        if (code < 0)
            return; // stray text between replies
        m_openText.clear();
        append(line);
        if (separator == '-') {
            m_openCode = code;
            return;
        }
    } else {
        if (m_openCode == 211 && namesMlst(line))
            m_mlst = true;
        append(line);
        // A multi-line reply ends only at its own code followed by a blank; a line that
        // starts with another code is part of its text.
        if (code != m_openCode || separator != ' ')
            return;
    }
    m_last.code = code;
    m_last.text = std::exchange(m_openText, std::string());
    m_preliminary = m_preliminary || (code >= 100 && code < 200);
    m_openCode = -1;
}
