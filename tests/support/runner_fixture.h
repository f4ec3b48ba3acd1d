#pragma once
// A world for tests that start the runner as a process: the sandbox seller's
// section is in the world's Config.ini, and `nick` is its account.
#include <gtest/gtest.h>

#include <string>

#include "support/rating_world.h"

namespace qm::test {

class RunnerWorldTest : public ::testing::Test {
 protected:
  RatingWorld world;
  std::string nick;
  void SetUp() override {
    ASSERT_TRUE(world.Market().Ok());
    nick = world.Market().Seller().nick;
    ASSERT_TRUE(world.Market().WriteConfig(world.Dir().File("Config.ini")));
  }
};

}  // namespace qm::test
