// Four threads calling shells at once: over one shared object (through one
// shared shell and through shells of their own) and over objects of their
// own, while shells are created and released. Calls over one object must
// not overlap: the counter's deliberately slow increment would lose counts.
#include <gtest/gtest.h>

#include <thread>
#include <vector>

#include "activex_shell/activex_shell.h"
#include "script_host.h"
#include "test_objects.h"

namespace quill::testing {
namespace {

TEST(ShellThreads, CallsOverOneObjectRunOneAtATime) {
  constexpr int kThreads = 4;
  constexpr int kRounds = 1500;
  TCounter shared;
  std::vector<std::unique_ptr<TCounter>> own;
  for (int t = 0; t < kThreads; ++t) own.push_back(std::make_unique<TCounter>());
  Obj shared_shell = Obj::ShellOver(&shared);
  size_t shells_before = shell_registry().count();

  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      for (int i = 0; i < kRounds; ++i) {
        // Names are added to the shared shell's table from every thread.
        EXPECT_TRUE(Call(shared_shell.get(), i % 2 ? "bump" : "BUMP").ok());
        Obj mine = Obj::ShellOver(&shared);
        EXPECT_TRUE(Call(mine.get(), "bump").ok());
        Obj other = Obj::ShellOver(own[static_cast<size_t>(t)].get());
        EXPECT_TRUE(Call(other.get(), "bump").ok());
        EXPECT_EQ(Get(shared_shell.get(), "Tag").result.i4(), 0);
      }
    });
  }
  for (std::thread& th : threads) th.join();
  EXPECT_EQ(shared.value, 2 * kThreads * kRounds);
  for (const auto& c : own) EXPECT_EQ(c->value, kRounds);
  EXPECT_EQ(shell_registry().count(), shells_before);
  EXPECT_NE(shell_registry().lock_of(shared.Handle()), nullptr);
}

}  // namespace
}  // namespace quill::testing
