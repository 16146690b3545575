// The numbers stored in kludge entries.
#pragma once

namespace vantel {

/// Which stream a kludge rewrites; also the mode of the message stream processor.
enum class KludgeType : int {
    SmtpKludge = 0,  ///< header lines the client sends (SMTP, news, IMAP4 entries)
    Pop3Kludge = 1,  ///< header lines of mail retrieved by POP3
};

/// What a kludge does with a matching header line.
enum class KludgeAction : int {
    ChangeToText = 0,   ///< replace by the kludge's header name and a fixed text
    JustDelete = 1,     ///< remove
    TakeFromFile = 2,   ///< replace by the header name and a random line of a file
    SpecialKludge = 3,  ///< add a line built from a value inside the line
};

}  // namespace vantel
