// The classic C runtime generator, with its state in the object instead of the runtime.
#pragma once

#include <cstdint>

#include "core/rewrite/RandomSource.h"

namespace vantel {

/// Same sequence as the Microsoft C runtime's rand() after srand(seed).
class CRuntimeRandom : public RandomSource {
  public:
    explicit CRuntimeRandom(std::uint32_t seed) : state_(seed) {}
    int Next() override {
        state_ = state_ * 214013u + 2531011u;
        return static_cast<int>((state_ >> 16) & 0x7FFF);
    }

  private:
    std::uint32_t state_;
};

}  // namespace vantel
