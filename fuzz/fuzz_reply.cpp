// The control reply reader on arbitrary server output. However the bytes are cut into
// pieces, the reader must come to the same replies; what it holds stays within its caps;
// and a reply it reports starts with the code it reports.
#include "core/ftp/ftpReply.h"

#include "fuzzcheck.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace {

constexpr std::size_t kMaxHeld = FtpReplyReader::kMaxLineBytes + FtpReplyReader::kMaxReplyBytes;

void checkReply(const FtpReply& reply)
{
    require(reply.code >= 0 && reply.code <= 999);
    require(reply.text.size() <= FtpReplyReader::kMaxReplyBytes);
    if (reply.text.empty()) {
        require(reply.code == 0); // nothing complete yet
        return;
    }
    require(reply.text.size() >= 3);
    require((reply.text[0] - '0') * 100 + (reply.text[1] - '0') * 10 + (reply.text[2] - '0') == reply.code);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);

    FtpReplyReader whole;
    whole.feed(bytes);
    require(whole.heldBytes() <= kMaxHeld);
    checkReply(whole.last());

    // The same bytes in pieces whose lengths come from the bytes themselves, so the
    // fuzzer can steer where the cuts fall (a CR LF split in two among them).
    FtpReplyReader pieces;
    std::uint32_t state = 0x9E3779B9u ^ static_cast<std::uint32_t>(size);
    std::size_t at = 0;
    while (at < bytes.size()) {
        state = state * 1664525u + 1013904223u + static_cast<unsigned char>(bytes[at]);
        const std::size_t length = 1 + (state >> 24) % 97;
        pieces.feed(bytes.substr(at, length));
        require(pieces.heldBytes() <= kMaxHeld);
        at += length;
    }
    require(pieces.last().code == whole.last().code);
    require(pieces.last().text == whole.last().text);
    require(pieces.announcedMlst() == whole.announcedMlst());
    require(pieces.heldBytes() == whole.heldBytes());

    // After a reset the reader starts over: a plain reply is read as it is.
    pieces.reset();
    require(pieces.last().code == 0 && pieces.heldBytes() == 0);
    pieces.feed("226 Done\r\n");
    require(pieces.last().code == 226 && pieces.last().text == "226 Done");
    return 0;
}
