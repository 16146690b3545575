// Fuzzes the stream processors with random kludge lists, modes and block cuts.
//
// Input layout, read front to back (missing bytes read as 0):
//   flags      bit 0 POP3 server stream, bit 1 hidden mode, bits 2-4 kludge count,
//              bits 5-6 special kludge count, bit 7 the other direction speaks between blocks
//   kludge     type byte (value mod 3), action byte (mod 4: change, delete, special, unknown),
//              name and text, each a length byte (mod 16) and that many bytes
//   special    separator byte, name and signal string, each a length byte (mod 16) and bytes
//   cuts       count byte (mod 32), then one block length byte each (0 = an empty block)
//   stream     the rest
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "core/protocol/pop3/Pop3LoginSwap.h"
#include "core/rewrite/CRuntimeRandom.h"
#include "core/rewrite/CachedKludgeFiles.h"
#include "core/rewrite/KludgeEntry.h"
#include "core/rewrite/MessageRewriter.h"

namespace vantel {
namespace {

/// The server entry at `index`, or an entry without a login when there is none.
ServerEntry EntryAt(const RelaySettings& settings, int index) {
    return index >= 0 && static_cast<std::size_t>(index) < settings.ServerList.size()
               ? settings.ServerList[static_cast<std::size_t>(index)]
               : ServerEntry{};
}

/// One relay's settings and rewriter. It is its own notifier: no kludge here reads a file, so
/// there is never anything to tell.
class Relay : public Notifier {
  public:
    RelaySettings settings;
    CRuntimeRandom random{1};
    CachedKludgeFiles kludgeFiles;
    MessageRewriter rewriter{settings, random, *this, kludgeFiles};

    void ShowMessage(std::string_view) override { __builtin_trap(); }
};

std::uint8_t ReadByte(std::string_view& in) {
    if (in.empty()) {
        return 0;
    }
    const auto byte = static_cast<std::uint8_t>(in.front());
    in.remove_prefix(1);
    return byte;
}

std::string ReadText(std::string_view& in) {
    const std::size_t length = std::min<std::size_t>(ReadByte(in) % 16, in.size());
    std::string text(in.substr(0, length));
    in.remove_prefix(length);
    return text;
}

void Check(bool holds) {
    if (!holds) {
        __builtin_trap();
    }
}

/// A CR LF followed by a blank or tab: the next line continues this one.
bool IsFold(std::string_view text, std::size_t at) {
    return at >= 2 && at < text.size() && text.substr(at - 2, 2) == "\r\n" &&
           std::string_view(" \t\v\f").find(text[at]) != std::string_view::npos;
}

/// In place of a server entry index: the message stream processor.
constexpr int kMessageStream = -2;

/// Everything sent for `blocks`, the flushed tail included.
std::string Relayed(Relay& relay, const std::vector<std::string_view>& blocks, KludgeType mode,
                    int entryIndex, bool clearBody) {
    StreamState state;
    const ServerEntry entry = EntryAt(relay.settings, entryIndex);
    Pop3LoginSwap login(entry);
    std::string sent;
    for (std::string_view block : blocks) {
        sent += entryIndex == kMessageStream
                    ? relay.rewriter.ProcessMessageBlock(block, state, mode)
                    : login.FromClient(block);
        if (clearBody) {
            state.inBody = false;
        }
    }
    return sent +
           (entryIndex == kMessageStream ? MessageRewriter::FlushStream(state) : login.Flush());
}

}  // namespace
}  // namespace vantel

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace vantel;
    std::string_view in(reinterpret_cast<const char*>(data), size);

    const std::uint8_t flags = ReadByte(in);
    const KludgeType mode = flags & 1 ? KludgeType::Pop3Kludge : KludgeType::SmtpKludge;
    const bool hidden = flags & 2;
    const bool clearBody = flags & 0x80;

    Relay kludged;
    kludged.settings.CustomValue = hidden ? kHiddenModeCode : 0;
    bool emptyName = false;
    for (int i = (flags >> 2) & 7; i > 0; --i) {
        static constexpr int kActions[] = {0, 1, 3, 9};
        const int type = ReadByte(in) % 3;
        const int action = kActions[ReadByte(in) % 4];
        const std::string name = ReadText(in);
        const std::string text = ReadText(in);
        kludged.settings.Kludges.push_back(
            ReadKludge(std::to_string(type) + ' ' + name, std::to_string(action) + ' ' + text));
        emptyName |= kludged.settings.Kludges.back().headerName.empty();
    }
    for (int i = (flags >> 5) & 3; i > 0; --i) {
        const char separator = static_cast<char>(ReadByte(in));
        const std::string name = ReadText(in);
        const std::string definition = separator + (' ' + name);
        kludged.settings.SpecialKludges.push_back(ReadSpecialKludge(ReadText(in), definition));
    }
    std::vector<std::size_t> lengths;
    for (int i = ReadByte(in) % 32; i > 0; --i) {
        lengths.push_back(ReadByte(in));
    }

    const std::string_view stream = in;
    std::vector<std::string_view> blocks;
    bool cutAtFold = false;
    for (std::size_t at = 0, i = 0; at < stream.size(); ++i) {
        std::size_t length = lengths.empty() ? stream.size() : lengths[i % lengths.size()];
        if (length == 0) {
            blocks.emplace_back();  // an idle read
            length = 1;
        }
        blocks.push_back(stream.substr(at, length));
        at += blocks.back().size();
        cutAtFold |= IsFold(stream, at);
    }

    // Without kludges nothing may change, as long as no Date line is marked or From line tagged.
    const bool pop3 = mode == KludgeType::Pop3Kludge;
    const bool hasDate = stream.find("Date:") != std::string_view::npos;
    Relay plain;
    plain.settings.CustomValue = kludged.settings.CustomValue;
    plain.settings.ServerList.resize(1);  // an entry without a stored login
    if (!hasDate || (pop3 && !hidden)) {
        Check(Relayed(plain, blocks, mode, kMessageStream, clearBody) == stream);
    }
    for (int entryIndex : {0, 1, -1}) {
        Check(Relayed(plain, blocks, mode, entryIndex, clearBody) == stream);
    }

    // Whatever the kludges, the text after the first blank line passes unchanged.
    const std::size_t blank = stream.substr(0, 2) == "\r\n" ? 0 : stream.find("\r\n\r\n");
    const std::size_t bodyStart = blank == 0 ? 2 : blank == std::string_view::npos ? 0 : blank + 4;
    const std::string sent = Relayed(kludged, blocks, mode, kMessageStream, false);
    if (bodyStart != 0) {
        const std::string_view body = stream.substr(bodyStart - 2);
        Check(sent.size() >= body.size() &&
              sent.compare(sent.size() - body.size(), body.size(), body.data(), body.size()) == 0);
    }

    // However the stream is cut, the output is the same; empty kludge names and Date lines
    // react to block ends, and a POP3 line ending with its block cannot wait for a fold.
    if (!emptyName && !hasDate && !(pop3 && cutAtFold)) {
        Relay whole;
        whole.settings = kludged.settings;
        Check(Relayed(whole, {stream}, mode, kMessageStream, false) == sent);
    }
    return 0;
}
