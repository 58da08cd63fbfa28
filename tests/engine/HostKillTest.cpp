#include "StandinScript.h"
#include "childprocess.h"
#include "sandbox.h"
#include "waitfor.h"

#include <array>
#include <csignal>
#include <fstream>
#include <gtest/gtest.h>

namespace mirel {
namespace {

using namespace std::chrono_literals;

// A host killed hard takes its engine with it, also an engine that ignores
// the terminal's hang-up (then the parent-death signal does it).
TEST(HostKill, EngineDiesWithItsHost) {
  constexpr std::array<const char *, 2> scripts{"q=ignore", "q=ignore;hup=ignore;term=ignore"};
  for (const char *script : scripts) {
    test::Sandbox sandbox;
    test::StandinScript s(script);
    const std::string pidFile = sandbox.file("engine.pid");
    test::ChildProcess host({MIREL_HOSTHELPER_PATH, MIREL_STANDIN_PATH, pidFile});
    int enginePid = -1;
    ASSERT_TRUE(test::waitFor(
        [&] {
          std::ifstream in(pidFile);
          return static_cast<bool>(in >> enginePid);
        },
        5s))
        << script;
    ASSERT_FALSE(test::processGone(enginePid)) << script;
    kill(host.pid(), SIGKILL);
    EXPECT_TRUE(test::waitFor([&] { return test::processGone(enginePid); }, 3s)) << script;
    if (!test::processGone(enginePid))
      kill(enginePid, SIGKILL);
  }
}

} // namespace
} // namespace mirel
