// --rewrite-path as the server sees it: which targets each rule rewrites, in
// the order given, and that nothing else of a request changes.
#include <gtest/gtest.h>

#include "tools/replay/replay_engine.h"
#include "tools/replay/replay_test_server.h"
#include "tools/replay/replay_test_support.h"

namespace {

TEST(ReplayPathRule, TheServerGetsTheFirstMatchingRuleAndEveryOtherByteAsKept) {
  struct Case {
    std::string line, sent;
  };
  const std::vector<Case> cases = {
      {"POST /old/deep/a?q=/old/ HTTP/1.1", "POST /d/a?q=/old/ HTTP/1.1"},  // rule 0 before 1
      {"POST /old/b HTTP/1.1", "POST /new/b HTTP/1.1"},
      {"GET /old/ HTTP/1.0", "GET /new/ HTTP/1.0"},
      {"POST /olden HTTP/1.1", "POST /olden HTTP/1.1"},  // a prefix of bytes: "/old/" is not
      {"POST /svc/old/x HTTP/1.1", "POST /svc/old/x HTTP/1.1"},
      {"POST http://h:81/old/c HTTP/1.1", "POST http://h:81/new/c HTTP/1.1"},
      {"POST http://h:81 HTTP/1.1", "POST http://h:81 HTTP/1.1"},
      {"POST /ol HTTP/1.1", "POST /ol HTTP/1.1"},  // shorter than every FROM
      {"OPTIONS * HTTP/1.1", "OPTIONS * HTTP/1.1"},
  };
  TestUser user;
  for (size_t i = 0; i < cases.size(); i++)
    user.requests.push_back({i, 0, "<b>" + std::to_string(i) + "</b>", cases[i].line});
  TestDir dir;
  write_test_package(dir.path, 1, {user});
  // With a header rule the head is rewritten as well; the path goes the same.
  for (bool with_header : {false, true}) {
    SCOPED_TRACE(with_header ? "with --header" : "alone");
    ReplayOptions o;
    o.paths = {{"/old/deep/", "/d/"}, {"/old/", "/new/"}, {"/old/b", "/never/"}};
    if (with_header) o.headers = {{"X-Run", "7"}};
    ScriptedServer server;
    ReplayPackage p;
    ReplayTarget t;
    std::string error;
    ASSERT_TRUE(open_replay_package(dir.path, {}, &p, &error)) << error;
    ASSERT_TRUE(resolve_replay_target(
        {ReplayScheme::kHttp, "127.0.0.1", std::to_string(server.port)}, &t, &error))
        << error;
    ReplayStats stats;
    EXPECT_TRUE(run_replay(o, &p, t, ReplayRunContext{}, &stats, &error)) << error;
    close_replay_package(&p);
    release_replay_target(&t);
    std::vector<Received> got = server.received();
    ASSERT_EQ(got.size(), cases.size());
    for (size_t i = 0; i < cases.size(); i++) {
      TestRequest sent = user.requests[i];
      sent.request_line = cases[i].sent;
      std::string want = test_entry_request(sent);
      if (with_header) want.insert(want.find("\r\n\r\n") + 2, "X-Run: 7\r\n");
      EXPECT_EQ(got[i].request, want) << cases[i].line;
    }
    EXPECT_EQ(stats.path_rewrites, (std::vector<uint64_t>{1, 3, 0}));
  }
}

}  // namespace
