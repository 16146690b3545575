// Where the kludges that take a line from a file get the file's text.
#pragma once

#include <string>

namespace vantel {

class KludgeFileReader {
  public:
    virtual ~KludgeFileReader() = default;
    /// The file's bytes, as stored, in `content`; false when it cannot be read (missing, not
    /// a plain file, a read error), and then `content` is left alone.
    virtual bool Read(const std::string& path, std::string& content) = 0;
};

}  // namespace vantel
