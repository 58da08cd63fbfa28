#include "TransferSession.h"

#include <gtest/gtest.h>

namespace mirel {
namespace {

using sp = lt::settings_pack;

TEST(EngineSettings, FollowTheCommandLine) {
  EngineOptions o;
  o.minPort = 6890;
  o.maxPort = 6899;
  o.maxUploadRate = 200;
  o.maxUploads = 10;
  o.minUploads = 3;
  const lt::settings_pack s = engineSettings(o);
  EXPECT_EQ(s.get_str(sp::listen_interfaces), "0.0.0.0:6890,[::]:6890");
  EXPECT_EQ(s.get_int(sp::max_retry_port_bind), 9);
  EXPECT_EQ(s.get_int(sp::upload_rate_limit), 200 * 1024); // kB/s to bytes per second
  EXPECT_EQ(s.get_int(sp::unchoke_slots_limit), 10);
  for (int name : {sp::enable_dht, sp::enable_lsd, sp::enable_upnp, sp::enable_natpmp})
    EXPECT_FALSE(s.get_bool(name)) << lt::name_for_setting(name);
  EXPECT_TRUE(s.get_bool(sp::allow_multiple_connections_per_ip));
  EXPECT_LE(s.get_int(sp::stop_tracker_timeout), 3);
}

TEST(EngineSettings, ZeroUploadRateMeansUnlimitedAndMinUploadsIsAFloor) {
  EngineOptions o;
  o.maxUploadRate = 0;
  o.maxUploads = 2;
  o.minUploads = 4;
  const lt::settings_pack s = engineSettings(o);
  EXPECT_EQ(s.get_int(sp::upload_rate_limit), 0);
  EXPECT_EQ(s.get_int(sp::unchoke_slots_limit), 4);
  EXPECT_EQ(s.get_int(sp::max_retry_port_bind), 6999 - 6881);
}

} // namespace
} // namespace mirel
