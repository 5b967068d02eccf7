#pragma once
// Reading an FTP server's control replies out of the bytes that arrive on the control
// connection. What a server sends is not to be trusted: stray text, replies that never
// end, lines without end; whatever comes, the reader holds a bounded amount of it.

#include <cstddef>
#include <string>
#include <string_view>

struct FtpReply {
    int code = 0;     // with no text: no complete reply (a server may well send "000")
    std::string text; // the reply's lines as sent, "\n" between them, line ends removed
};

class FtpReplyReader {
public:
    // A longer line keeps its first kMaxLineBytes bytes (the code is at its start); a
    // reply whose text would grow past kMaxReplyBytes keeps its first lines.
    static constexpr std::size_t kMaxLineBytes = std::size_t{64} * 1024;
    static constexpr std::size_t kMaxReplyBytes = std::size_t{64} * 1024;

    // Bytes in pieces of any size: a line, a CR LF or a reply may be split anywhere.
    void feed(std::string_view bytes);

    // Forgets the last reply and whatever part of a line or reply has come so far. What
    // FEAT announced stays known.
    void reset();

    // The last reply that has come complete since the reset.
    const FtpReply& last() const { return m_last; }
    // A preliminary reply (1xx: the server goes ahead with a transfer) has come since
    // the reset.
    bool sawPreliminary() const { return m_preliminary; }

    // A multi-line 211 reply (FEAT's) listed MLST among the features.
    bool announcedMlst() const { return m_mlst; }
    void forgetFeatures() { m_mlst = false; }

    // What is held for a line or reply not yet complete.
    std::size_t heldBytes() const { return m_line.size() + m_openText.size(); }

private:
    void takeLine(std::string_view line);
    void append(std::string_view line);

    std::string m_line;     // the incomplete line so far
    int m_openCode = -1;    // code of a multi-line reply not yet ended; -1 when none is
    std::string m_openText; // and its lines so far
    FtpReply m_last;
    bool m_preliminary = false;
    bool m_mlst = false;
};
