// Whether a POP3 server's stream is in a retrieved message, from the traffic both ways, cut
// anywhere.
#include "core/protocol/pop3/Pop3AnswerTracker.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace vantel {
namespace {

struct Turn {
    bool fromClient;
    std::string bytes;
};

struct Row {
    const char* name;
    std::vector<Turn> turns;
    bool inMessage;
};

TEST(Pop3AnswerTrackerTest, FollowsEachAnswerToItsEndHoweverTheBytesAreCut) {
    const Turn greeting{false, "+OK ready\r\n"};
    const Row rows[] = {
        {"stuffed dots and answer-like lines are body",
         {greeting, {true, "RETR 1\r\n"}, {false, "+OK\r\n..\r\n.x\r\n+OK\r\n-ERR\r\n"}},
         true},
        {"terminator cut across blocks",
         {greeting, {true, "RETR 1\r\n"}, {false, "+OK\r\nx\r"}, {false, "\n."}, {false, "\r\n"}},
         false},
        {"LF-only lines", {greeting, {true, "RETR 1\n"}, {false, "+OK\nx\n.\n"}}, false},
        {"a command before the greeting",
         {{true, "RETR 1\r\n"}, greeting, {false, "+OK\r\nbody\r\n"}},
         true},
        {"pipelined: the second answer is the message",
         {greeting,
          {true, "LIST\r\nNOOP\r\nTOP 1 0\r\n"},
          {false, "+OK\r\n1 5\r\n.\r\n+OK\r\n+OK\r\nSubject: b\r\n"}},
         true},
        {"LIST with an argument is one line",
         {greeting, {true, "LIST 1\r\nRETR 1\r\n"}, {false, "+OK 1 5\r\n+OK\r\n"}},
         true},
        {"AUTH's exchange is no command",
         {greeting,
          {true, "AUTH PLAIN\r\n"},
          {false, "+ \r\n"},
          {true, "RETR 1\r\n"},
          {false, "+OK welcome\r\n"}},
         false},
        {"a long command line still counts",
         {greeting, {true, "RETR " + std::string(100000, '1') + "\r\n"}, {false, "+OK\r\n"}},
         true},
        {"a long body line with a dot at its end",
         {greeting, {true, "RETR 1\r\n"}, {false, "+OK\r\n" + std::string(5000, 'x') + ".\r\n"}},
         true},
        {"moved unseen, then the client's next command",
         {greeting,
          {true, "RETR 1\r\n"},
          {false, "+OK\r\nSubject: c\r\n\r\n"},
          {false, ""},
          {true, "QUIT\r\n"},
          {false, "+OK bye\r\n"}},
         false},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        Pop3AnswerTracker tracker;
        for (const Turn& turn : row.turns) {
            if (turn.fromClient) {
                tracker.ClientSent(turn.bytes);
            } else if (turn.bytes.empty()) {
                tracker.PassedUnread();  // the rest of the body and its "." went unseen
            } else {
                tracker.ServerSent(turn.bytes);
            }
        }
        EXPECT_EQ(tracker.InMessage(), row.inMessage);
    }
}

}  // namespace
}  // namespace vantel
