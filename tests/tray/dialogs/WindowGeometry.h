// Where a window opened, for the tests' checks.
#pragma once

#include <windows.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

namespace vantel::test {

inline std::string Text(const RECT& rect) {
    return "(" + std::to_string(rect.left) + "," + std::to_string(rect.top) + ")-(" +
           std::to_string(rect.right) + "," + std::to_string(rect.bottom) + ")";
}

/// `inner` has the centre of `outer`, give or take the pixel an odd difference rounds away.
inline ::testing::AssertionResult CentredOn(const RECT& inner, const RECT& outer) {
    const LONG dx = (inner.left + inner.right) - (outer.left + outer.right);
    const LONG dy = (inner.top + inner.bottom) - (outer.top + outer.bottom);
    if (std::abs(dx) <= 2 && std::abs(dy) <= 2) {
        return ::testing::AssertionSuccess();
    }
    return ::testing::AssertionFailure() << Text(inner) << " is not centred on " << Text(outer);
}

inline RECT WindowRect(HWND window) {
    RECT rect{};
    GetWindowRect(window, &rect);
    return rect;
}

}  // namespace vantel::test
