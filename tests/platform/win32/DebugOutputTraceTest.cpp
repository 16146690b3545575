#include "platform/win32/DebugOutputTrace.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace vantel {
namespace {

// OutputDebugStringA announces each string as a DBG_PRINTEXCEPTION_C, which a vectored
// handler sees before the system swallows it: that is how a debugger hears it too.
std::vector<std::string>* captured = nullptr;

LONG CALLBACK Capture(EXCEPTION_POINTERS* info) {
    const EXCEPTION_RECORD* record = info->ExceptionRecord;
    if (record->ExceptionCode == DBG_PRINTEXCEPTION_C && record->NumberParameters >= 2 &&
        captured != nullptr) {
        captured->emplace_back(reinterpret_cast<const char*>(record->ExceptionInformation[1]));
    }
    return EXCEPTION_CONTINUE_SEARCH;
}

TEST(DebugOutputTraceTest, EachWriteIsOneDebugString) {
    std::vector<std::string> strings;
    captured = &strings;
    void* handler = AddVectoredExceptionHandler(1, Capture);
    DebugOutputTrace trace;
    trace.Write("[Vantel] ");
    trace.Write("OUT: \n");
    trace.Write("[Vantel] 250 ok\x1b]0;title\x07\rX\r\n");  // what a server may send
    RemoveVectoredExceptionHandler(handler);
    captured = nullptr;
    EXPECT_EQ(strings, (std::vector<std::string>{"[Vantel] ", "OUT: \n",
                                                 "[Vantel] 250 ok\\x1b]0;title\\x07\\rX\r\n"}));
}

}  // namespace
}  // namespace vantel
