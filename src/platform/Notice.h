// A failure the relay tells the user of, with what the user can act on.
#pragma once

#include <string>

namespace vantel {

struct Notice {
    /// What happened, in the words the user has always been given ("Error connecting to
    /// host").
    std::string text;
    /// The server entry it concerns: "local port 2525, server mail.example.org port 25".
    /// Notices of the same text and entry are repeats of one another.
    std::string entry;
    /// The address or host that was tried: "192.0.2.1:25"; may be empty.
    std::string host;
    /// Why, in words: "connection refused", "no such host", "timed out after 5 s".
    std::string reason;
    /// How many times it happened without being shown, before this time; 0: none.
    int repeats = 0;

    /// The text on its first line, then a line each for the entry, the host and the reason,
    /// as a message box shows it. Here and in Line, controls in the parts show escaped.
    std::string Box() const;
    /// All of it on one line, as a log shows it.
    std::string Line() const;
};

}  // namespace vantel
