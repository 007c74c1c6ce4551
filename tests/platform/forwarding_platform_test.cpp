#include <gtest/gtest.h>

#include "platform/platform.h"

namespace mas {
namespace {

// A wrapper that changes nothing must leave the inner platform exactly what the core
// asked: each call once, with its own arguments, and Escape as the inner one reads it.
TEST(ForwardingPlatform, PassesEveryCallWithItsArgumentsToTheInnerPlatform) {
  RecordingPlatform inner;
  inner.escape_after_polls = 1;
  ForwardingPlatform forwarding(inner);
  Platform& platform = forwarding;
  platform.ShowMessage("texte", "titre", MessageIcon::kStop);
  platform.SetStatusText("Simulation en cours");
  platform.SetProgress(42);
  platform.SetWaitCursor(true);
  platform.SetWaitCursor(false);
  platform.StartProcess("viewer out.dat");
  EXPECT_FALSE(platform.EscapePressed());
  EXPECT_TRUE(platform.EscapePressed());

  ASSERT_EQ(inner.messages.size(), 1u);
  EXPECT_EQ(inner.messages[0].text, "texte");
  EXPECT_EQ(inner.messages[0].caption, "titre");
  EXPECT_EQ(inner.messages[0].icon, MessageIcon::kStop);
  EXPECT_EQ(inner.status_texts, std::vector<std::string>{"Simulation en cours"});
  EXPECT_EQ(inner.progress, std::vector<int>{42});
  EXPECT_EQ(inner.wait_cursor_calls, (std::vector<bool>{true, false}));
  EXPECT_EQ(inner.started_processes, std::vector<std::string>{"viewer out.dat"});
  EXPECT_EQ(inner.escape_polls, 2);
}

}  // namespace
}  // namespace mas
