// Where the random choice of a file line comes from.
#pragma once

namespace vantel {

class RandomSource {
  public:
    static constexpr int kMax = 32767;
    virtual ~RandomSource() = default;
    /// Next number from 0 to kMax.
    virtual int Next() = 0;
};

}  // namespace vantel
