// Runs one receive session over a plain blocking TCP socket on loopback, the
// way the program's socket adapter runs it (see SessionLoop.h).
#pragma once

#include "tests/support/SessionLoop.h"
#include "transfer/Pop3Session.h"

namespace tegalo::pop3_test {

using session_test::SessionRun;

// `account.serverName` must be a dotted IPv4 address. Arrivals are read in
// pieces of at most `readSize` bytes.
inline SessionRun RunPop3Session(Pop3Session& session, const Pop3Account& account,
                                 std::chrono::seconds limit = std::chrono::seconds(30),
                                 std::size_t readSize = 10'000) {
    session_test::LoopOptions options;
    options.limit = limit;
    options.readSize = readSize;
    return session_test::RunSession(session, session.StartReceive(account), account.serverName, account.pop3Port,
                                    options);
}

} // namespace tegalo::pop3_test
